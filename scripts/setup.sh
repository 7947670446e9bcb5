#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need; with
# --tests (or --emulators), also the Authentication and Firestore emulators
# the account and library tests and the demo's second act run against.
# A warm machine pays nothing: apt and npm run only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang lld clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-svg-dev qt6-image-formats-plugins fonts-inter
  libqt6svg6
  qcoro-qt6-dev qtkeychain-qt6-dev
  libssl-dev libplist-dev libarchive-dev zlib1g-dev libbz2-dev liblzma-dev libsimdjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  7zip xorriso dbus xvfb xauth libxcb1-dev python3 tzdata curl openssl
  gnome-keyring libsecret-1-0
)
# Node for the Authentication emulator; a Node from elsewhere (with its own npm) is kept.
tests=0
case "${1:-}" in --tests|--emulators) tests=1 ;; esac
[ $tests -eq 0 ] || command -v npm >/dev/null || packages+=(nodejs npm)
# Java for the Firestore emulator.
[ $tests -eq 0 ] || command -v java >/dev/null || packages+=(openjdk-17-jre-headless)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Authentication emulator for the account tests, outside the repository.
# 13.x is the last line whose engines accept Debian 12's Node 18 as well as Node 20.
[ $tests -eq 1 ] || exit 0
firebase_version=13.35.1
firebase_dir="${XDG_CACHE_HOME:-$HOME/.cache}/corvanta/firebase-tools"
firebase_installed=$(node -p "require('$firebase_dir/node_modules/firebase-tools/package.json').version" 2>/dev/null || true)
if [ "$firebase_installed" != "$firebase_version" ]; then
  echo "Installing firebase-tools $firebase_version into $firebase_dir" >&2
  mkdir -p "$firebase_dir"
  npm install --prefix "$firebase_dir" --no-audit --no-fund --loglevel=error "firebase-tools@$firebase_version" >/dev/null
fi

# The Firestore emulator for the library tests: the machine image's package
# when it is there, else the jar firebase-tools downloads into its cache.
firestore_jar=/usr/lib/google-cloud-sdk/platform/cloud-firestore-emulator/cloud-firestore-emulator.jar
firestore_cache="${FIREBASE_EMULATORS_PATH:-$HOME/.cache/firebase/emulators}"
if [ ! -f "$firestore_jar" ] && ! ls "$firestore_cache"/cloud-firestore-emulator-v*.jar >/dev/null 2>&1; then
  echo "Downloading the Firestore emulator into $firestore_cache" >&2
  CI=true NO_UPDATE_NOTIFIER=1 "$firebase_dir/node_modules/.bin/firebase" setup:emulators:firestore >/dev/null
fi
