#!/usr/bin/env python3
"""The outbox tests' webhook receiver: takes POSTs on 127.0.0.1:PORT and writes
each one it accepts to FOLDER/NNNNNN.json: the X-Climalog-Mensaje header's
value on the first line, the body after it. With --fail N it answers the
first N requests 500 and keeps nothing of them. Prints "listo" once it
listens; runs until it is ended."""
import argparse
import os
import sys
from http.server import BaseHTTPRequestHandler, HTTPServer


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, required=True)
    p.add_argument('--folder', required=True)
    p.add_argument('--fail', type=int, default=0)
    a = p.parse_args()
    state = {'failures': a.fail}

    class Receiver(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get('Content-Length', '0')))
            if state['failures'] > 0:
                state['failures'] -= 1
                code = 500
            else:
                n = len([f for f in os.listdir(a.folder) if f.endswith('.json')]) + 1
                path = os.path.join(a.folder, '%06d.json' % n)
                with open(path + '.tmp', 'wb') as f:
                    f.write(self.headers.get('X-Climalog-Mensaje', '').encode() + b'\n')
                    f.write(self.headers.get('Content-Type', '').encode() + b'\n')
                    f.write(body)
                os.rename(path + '.tmp', path)
                code = 204
            self.send_response(code)
            self.send_header('Content-Length', '0')
            self.end_headers()

    server = HTTPServer(('127.0.0.1', a.port), Receiver)
    print('listo', flush=True)
    server.serve_forever()
    return 0


if __name__ == '__main__':
    sys.exit(main())
