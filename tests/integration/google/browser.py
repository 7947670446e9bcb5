#!/usr/bin/env python3
# The browser and desktop of a Google sign-in: follows the authorization URL
# to the redirect carrying the callback URL, then launches the program with
# that URL as the desktop's scheme handler would.
# Usage: browser.py URL PROGRAM [ARGUMENT...]
import http.client
import subprocess
import sys
import urllib.parse

url, program = sys.argv[1], sys.argv[2:]
parts = urllib.parse.urlsplit(url)
connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
connection.request("GET", parts.path + "?" + parts.query)
location = connection.getresponse().getheader("Location")
if location:
    sys.exit(subprocess.run(program + [location]).returncode)
