#!/usr/bin/env python3
"""The outbox tests' mail server: takes messages on 127.0.0.1:PORT and writes
each one it accepts, as received, to FOLDER/NNNNNN.eml (written whole, then
renamed into place). With --user and --password it asks for that login and
refuses any other quoting back the password it was sent, as a careless
server might. Prints "listo" once it listens; runs until it is ended."""
import argparse
import logging
import os
import signal
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Keeper:
    def __init__(self, folder):
        self.folder = folder

    # One message at a time: the server's one event loop runs this through
    # without a pause, so no two take the same number.
    async def handle_DATA(self, server, session, envelope):
        n = len([f for f in os.listdir(self.folder) if f.endswith('.eml')]) + 1
        path = os.path.join(self.folder, '%06d.eml' % n)
        with open(path + '.tmp', 'wb') as f:
            f.write(envelope.original_content)
            f.flush()
            os.fsync(f.fileno())
        os.rename(path + '.tmp', path)
        return '250 Guardado'


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, required=True)
    p.add_argument('--folder', required=True)
    p.add_argument('--user')
    p.add_argument('--password')
    a = p.parse_args()
    # A login without TLS is what these tests want: no warnings of it.
    warnings.simplefilter('ignore')
    logging.disable(logging.WARNING)

    def check(server, session, envelope, mechanism, data):
        if isinstance(data, LoginPassword) and data.login.decode() == a.user \
                and data.password.decode() == a.password:
            return AuthResult(success=True)
        sent = data.password.decode(errors='replace') if isinstance(data, LoginPassword) else ''
        return AuthResult(success=False, handled=False,
                          message='535 5.7.8 Clave no valida: ' + sent)

    options = {}
    if a.user:
        options = dict(authenticator=check, auth_required=True, auth_require_tls=False)
    controller = Controller(Keeper(a.folder), hostname='127.0.0.1', port=a.port, **options)
    controller.start()
    print('listo', flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    done.wait()
    controller.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
