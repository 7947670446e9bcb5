#!/usr/bin/env python3
# The browser and desktop of a Google sign-in: follows the authorization URL
# to the redirect carrying the callback URL, then hands that URL to the
# program's socket as a launch by the scheme handler would.
# Usage: browser.py SOCKET URL
import http.client
import socket
import sys
import urllib.parse

socket_path, url = sys.argv[1], sys.argv[2]
parts = urllib.parse.urlsplit(url)
connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
connection.request("GET", parts.path + "?" + parts.query)
location = connection.getresponse().getheader("Location", "")
with socket.socket(socket.AF_UNIX) as program:
    try:
        program.connect(socket_path)
    except OSError:
        sys.exit("no running program to hand the callback to")
    program.sendall(location.encode() + b"\n")
