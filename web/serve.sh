#!/usr/bin/env bash
# web/serve.sh [PORT] [FOLDER]: serves the greeting's site (build-web/site/ unless FOLDER is given) on
# 127.0.0.1 with the two headers that make the page cross-origin isolated, and prints the address. Port 8000
# unless given; 0 picks a free one. Ends with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8000}
folder=${2:-build-web/site}
if [ ! -f "$folder/index.html" ]; then
    echo "No site in $folder: build it first with web/build.sh" >&2
    exit 1
fi
exec python3 - "$port" "$folder" <<'PY'
import functools
import http.server
import sys


class IsolatingHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{'.js': 'text/javascript', '.wasm': 'application/wasm'})

    def end_headers(self):
        self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
        self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Cache-Control', 'no-cache')
        super().end_headers()

    def log_message(self, format, *args):
        pass


handler = functools.partial(IsolatingHandler, directory=sys.argv[2])
server = http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), handler)
print(f'Serving {sys.argv[2]} at http://127.0.0.1:{server.server_address[1]}/', flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    pass
PY
