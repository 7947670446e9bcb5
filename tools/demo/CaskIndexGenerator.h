#pragma once

// Builds a cask index document shaped like the real one: minified JSON, one
// object per cask with every field the public API sends (most of which our
// reader skips), artifacts with app, pkg, binary, uninstall and zap stanzas,
// per-system variations, caveats with escapes and non-ASCII text. Header-only
// so the benchmark and the reader's tests share it without linking anything.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <QByteArray>

namespace corvanta::demo {

class CaskIndexGenerator {
public:
    explicit CaskIndexGenerator(std::uint64_t seed = 20240601)
        : m_random(seed)
    {
    }

    // A document of `count` casks; 7,500 casks make about 19 MB, as the real index.
    QByteArray document(int count)
    {
        m_out.clear();
        m_out.reserve(std::size_t(count) * 2700);
        m_out += '[';
        for (int i = 0; i < count; ++i) {
            if (i)
                m_out += ',';
            cask(i);
        }
        m_out += ']';
        return QByteArray(m_out.data(), qsizetype(m_out.size()));
    }

    // The token, app name and bundle identifier the generator gave cask `i`,
    // so tests and benchmarks can look it up.
    struct Names {
        std::string token;
        std::string app;
        std::string bundleID;
    };
    static Names names(int i)
    {
        const std::string word = words()[std::size_t(i) % words().size()];
        const std::string other = words()[std::size_t(i / int(words().size())) % words().size()];
        const std::string stem = word + "-" + other + "-" + std::to_string(i);
        std::string app = capitalised(word) + " " + capitalised(other) + " " + std::to_string(i) + ".app";
        return { stem, app, "com." + other + "." + word + std::to_string(i) };
    }

private:
    static const std::vector<std::string>& words()
    {
        static const std::vector<std::string> list { "alpha", "beacon", "cobalt", "delta", "ember", "fjord",
            "garnet", "harbor", "iris", "jasper", "kestrel", "lumen", "maple", "nimbus", "onyx", "pixel",
            "quartz", "raven", "sierra", "tundra", "umber", "vertex", "willow", "xenon", "yarrow", "zephyr",
            "atlas", "boreal", "cinder", "drift", "echo", "flint", "glyph", "helix", "ivory", "juniper",
            "karst", "lark", "mosaic", "nova", "orbit", "prism", "quill", "rune", "slate", "tide", "ultra",
            "vale", "wren", "zinc" };
        return list;
    }

    static std::string capitalised(std::string word)
    {
        if (!word.empty() && word[0] >= 'a' && word[0] <= 'z')
            word[0] = char(word[0] - 'a' + 'A');
        return word;
    }

    int roll(int below) { return int(m_random() % std::uint64_t(below)); }
    bool chance(int percent) { return roll(100) < percent; }

    std::string hex(int length)
    {
        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (int i = 0; i < length; ++i)
            text += digits[roll(16)];
        return text;
    }

    std::string version()
    {
        std::string text
            = std::to_string(roll(30)) + "." + std::to_string(roll(20)) + "." + std::to_string(roll(40));
        if (chance(20))
            text += "," + std::to_string(1000 + roll(90000));
        return text;
    }

    void string(const std::string& text)
    {
        m_out += '"';
        for (char c : text) {
            switch (c) {
            case '"':
                m_out += "\\\"";
                break;
            case '\\':
                m_out += "\\\\";
                break;
            case '\n':
                m_out += "\\n";
                break;
            case '/':
                // The real index escapes no slashes, but other writers do.
                m_out += chance(2) ? "\\/" : "/";
                break;
            default:
                m_out += c;
            }
        }
        m_out += '"';
    }

    void key(const char* name)
    {
        m_out += '"';
        m_out += name;
        m_out += "\":";
    }

    void strings(const std::vector<std::string>& list)
    {
        m_out += '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i)
                m_out += ',';
            string(list[i]);
        }
        m_out += ']';
    }

    // A string or, as the index writes single entries, sometimes a bare value.
    void stringOrList(const std::vector<std::string>& list)
    {
        if (list.size() == 1 && chance(60))
            string(list[0]);
        else
            strings(list);
    }

    std::vector<std::string> zapPaths(const Names& names, const std::string& vendor)
    {
        const std::string& id = names.bundleID;
        std::vector<std::string> all { "~/Library/Application Support/" + vendor, "~/Library/Caches/" + id,
            "~/Library/Preferences/" + id + ".plist",
            "~/Library/Saved Application State/" + id + ".savedState", "~/Library/HTTPStorages/" + id,
            "~/Library/HTTPStorages/" + id + ".binarycookies", "~/Library/Containers/" + id,
            "~/Library/Application Scripts/" + id, "~/Library/Group Containers/group." + id,
            "~/Library/Logs/" + vendor, "~/Library/WebKit/" + id,
            "~/Library/Cookies/" + id + ".binarycookies",
            "~/Library/Application Support/com.apple.sharedfilelist/"
            "com.apple.LSSharedFileList.ApplicationRecentDocuments/"
                + id + ".sfl*",
            "~/." + vendor };
        std::vector<std::string> chosen;
        for (const std::string& path : all) {
            if (chance(75))
                chosen.push_back(path);
        }
        if (chosen.empty())
            chosen.push_back(all[2]);
        return chosen;
    }

    void cask(int i)
    {
        const Names n = names(i);
        std::string token = n.token;
        if (chance(4))
            token += chance(50) ? "@beta" : "@nightly";
        const std::string vendor = capitalised(words()[std::size_t(roll(int(words().size())))]);
        const bool onGitHub = chance(25);
        const std::string owner = vendor + "-labs";
        const std::string homepage = onGitHub
            ? "https://github.com/" + owner + "/" + n.token + (chance(10) ? ".git" : "")
            : "https://www." + n.token + ".com/";
        const bool latest = chance(6);
        const std::string ver = latest ? "latest" : version();
        const int kind = roll(10); // 0: pkg, 1: binary-only, else app
        const std::string extension = kind == 0 ? ".pkg" : (chance(50) ? ".dmg" : ".zip");
        const std::string url = onGitHub ? "https://github.com/" + owner + "/" + n.token
                + "/releases/download/v" + ver + "/" + n.token + "-" + ver + extension
                                         : "https://downloads." + n.token + ".com/releases/" + n.token + "-"
                + ver + (chance(30) ? "-universal" : "") + extension;

        m_out += '{';
        key("token");
        string(token);
        m_out += ',';
        key("full_token");
        string(token);
        m_out += ',';
        key("old_tokens");
        strings(chance(5) ? std::vector<std::string> { n.token + "-legacy" } : std::vector<std::string> {});
        m_out += ',';
        key("tap");
        string("homebrew/cask");
        m_out += ',';
        key("name");
        strings({ n.app.substr(0, n.app.size() - 4) });
        m_out += ',';
        key("desc");
        string(chance(10) ? "Lightweight tool for the caf\xc3\xa9 \xe2\x80\x94 notes, tasks & more"
                          : "Utility to organise, search and share " + words()[std::size_t(roll(50))]
                    + " and " + words()[std::size_t(roll(50))] + " files across devices");
        m_out += ',';
        key("homepage");
        string(homepage);
        m_out += ',';
        key("url");
        string(url);
        m_out += ',';
        key("url_specs");
        if (onGitHub || chance(60)) {
            m_out += "{}";
        } else {
            m_out += '{';
            key("verified");
            string("downloads." + n.token + ".com/");
            m_out += '}';
        }
        m_out += ',';
        key("version");
        string(ver);
        m_out
            += ",\"autobump\":true,\"no_autobump_message\":null,\"skip_livecheck\":false,\"installed\":null,"
               "\"installed_time\":null,\"bundle_version\":null,\"bundle_short_version\":null,\"outdated\":"
               "false,";
        key("sha256");
        string(latest ? "no_check" : hex(64));
        m_out += ',';
        artifacts(n, vendor, kind);
        m_out += ',';
        key("caveats");
        if (chance(20))
            string(
                "This app needs a kernel extension.\nEnable it in:\n  System Settings \xe2\x80\xba Privacy & "
                "Security\n\"Allow\" it, then restart.\n");
        else
            m_out += "null";
        m_out += ',';
        key("depends_on");
        if (chance(70)) {
            m_out += "{\"macos\":{\">=\":[\"";
            m_out += std::to_string(10 + roll(6));
            m_out += ".";
            m_out += std::to_string(roll(16));
            m_out += "\"]}}";
        } else {
            m_out += "{}";
        }
        m_out += ",\"conflicts_with\":";
        m_out += chance(10) ? "{\"cask\":[\"" + n.token + "@beta\"]}" : "null";
        m_out += ",\"container\":null,\"rename\":[],";
        key("auto_updates");
        m_out += chance(50) ? "true" : "null";
        m_out += ",\"deprecated\":false,\"deprecation_date\":null,\"deprecation_reason\":null,"
                 "\"deprecation_replacement_formula\":null,\"deprecation_replacement_cask\":null,"
                 "\"disabled\":false,\"disable_date\":null,\"disable_reason\":null,"
                 "\"disable_replacement_formula\":null,\"disable_replacement_cask\":null,";
        key("tap_git_head");
        string(hex(40));
        m_out += ',';
        key("languages");
        strings(chance(10) ? std::vector<std::string> { "en", "de", "fr", "ja", "zh-TW" }
                           : std::vector<std::string> {});
        m_out += ',';
        key("ruby_source_path");
        string("Casks/" + n.token.substr(0, 1) + "/" + n.token + ".rb");
        m_out += ',';
        key("ruby_source_checksum");
        m_out += "{\"sha256\":";
        string(hex(64));
        m_out += "},";
        key("variations");
        variations(url, ver);
        m_out += '}';
    }

    void artifacts(const Names& n, const std::string& vendor, int kind)
    {
        key("artifacts");
        m_out += '[';
        bool first = true;
        auto next = [&] {
            if (!first)
                m_out += ',';
            first = false;
        };
        if (chance(60) || kind == 0) {
            next();
            m_out += "{\"uninstall\":[{";
            bool firstEntry = true;
            auto entry = [&](const char* name) {
                if (!firstEntry)
                    m_out += ',';
                firstEntry = false;
                key(name);
            };
            if (chance(40)) {
                entry("launchctl");
                stringOrList({ n.bundleID + ".helper" });
            }
            if (chance(70)) {
                entry("quit");
                stringOrList(chance(20) ? std::vector<std::string> { n.bundleID, n.bundleID + ".helper" }
                                        : std::vector<std::string> { n.bundleID });
            }
            if (chance(15)) {
                entry("signal");
                m_out += "[[\"TERM\",";
                string(n.bundleID);
                m_out += "]]";
            }
            if (kind == 0 || chance(20)) {
                entry("pkgutil");
                stringOrList({ n.bundleID + ".pkg" });
            }
            if (chance(30)) {
                entry("delete");
                stringOrList(
                    { "/Applications/" + n.app, "/Library/PrivilegedHelperTools/" + n.bundleID + ".helper" });
            }
            if (firstEntry) {
                entry("quit");
                string(n.bundleID);
            }
            m_out += "}]}";
        }
        if (kind == 0) {
            next();
            m_out += "{\"pkg\":[";
            string(n.token + ".pkg");
            if (chance(30))
                m_out += ",{\"allow_untrusted\":true}";
            m_out += "]}";
        } else if (kind == 1) {
            next();
            m_out += "{\"binary\":[";
            string("$HOMEBREW_PREFIX/bin/" + n.token);
            m_out += "]}";
        } else {
            next();
            m_out += "{\"app\":[";
            if (chance(10)) {
                m_out += "{\"target\":";
                string(n.app);
                m_out += '}';
            } else {
                string(chance(5) ? vendor + "/" + n.app : n.app);
            }
            m_out += "]}";
            if (chance(15)) {
                m_out += ",{\"binary\":[";
                string(n.app + "/Contents/MacOS/" + n.token);
                m_out += ",{\"target\":";
                string(n.token);
                m_out += "}]}";
            }
        }
        if (chance(80)) {
            next();
            m_out += "{\"zap\":[{\"trash\":";
            strings(zapPaths(n, vendor));
            if (chance(20)) {
                m_out += ",\"delete\":";
                stringOrList({ "~/Library/Application Support/" + vendor + "/Cache" });
            }
            if (chance(10)) {
                m_out += ",\"rmdir\":";
                string("~/Library/Application Support/" + vendor);
            }
            m_out += "}]}";
        }
        m_out += ']';
    }

    void variations(const std::string& url, const std::string& ver)
    {
        static const std::vector<std::string> systems { "tahoe", "sequoia", "sonoma", "ventura", "monterey",
            "big_sur" };
        m_out += '{';
        if (chance(65)) {
            // Separate Intel builds for each system, as casks with two downloads have.
            const int count = 4 + roll(3);
            for (int i = 0; i < count; ++i) {
                if (i)
                    m_out += ',';
                key(systems[std::size_t(i)].c_str());
                m_out += '{';
                key("url");
                std::string intel = url;
                const std::size_t dot = intel.rfind('.');
                intel.insert(dot, "-x86_64");
                string(intel);
                m_out += ',';
                key("sha256");
                string(hex(64));
                if (chance(15)) {
                    m_out += ',';
                    key("version");
                    string(ver == "latest" ? ver : ver + ".1");
                }
                m_out += '}';
            }
            if (chance(25)) {
                m_out += ",\"arm64_big_sur\":{\"depends_on\":{\"macos\":{\">=\":[\"11\"]}}}";
            }
        }
        m_out += '}';
    }

    std::mt19937_64 m_random;
    std::string m_out;
};

} // namespace corvanta::demo
