#!/usr/bin/python3
"""Local HTTPS stand-in of the online service, for tests and the demo.

Usage: server.py --cert CERT --key KEY [--port 47443] [--hosts 127.0.0.1,127.0.0.2] [--state-dir DIR]

The first host is the service, the others are foreign sites. Prints
"standin ready https://<service host>:<port>" once every address listens; SIGTERM stops it.
"""

import argparse
import os
import shutil
import signal
import ssl
import sys
import tempfile
import threading

# keep the source folder free of __pycache__
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from PageStore import PageStore  # noqa: E402
from StandinHandler import StandinHandler  # noqa: E402
from StandinState import StandinState  # noqa: E402
from TlsHttpServer import TlsHttpServer  # noqa: E402


def parseArguments():
    parser = argparse.ArgumentParser(description="HTTPS stand-in of the service")
    parser.add_argument("--cert", required=True, help="PEM certificate (tools/standin/make-cert.sh)")
    parser.add_argument("--key", required=True, help="PEM private key")
    parser.add_argument("--port", type=int, default=47443)
    parser.add_argument("--hosts", default="127.0.0.1,127.0.0.2",
                        help="comma-separated addresses; the first is the service, the rest are foreign")
    parser.add_argument("--update-key", help="Ed25519 private key that signs the manifest (version.json.sig)")
    parser.add_argument("--state-dir", help="folder for published update archives (default: a new temporary one)")
    parser.add_argument("--messenger-dir", help="serve /messenger/ from this folder's files instead (benchmark pages)")
    args = parser.parse_args()
    args.hosts = [h.strip() for h in args.hosts.split(",") if h.strip()]
    if not args.hosts:
        parser.error("--hosts needs at least one address")
    return args


def makeSslContext(certPath, keyPath):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certPath, keyPath)
    # HTTP/1.1 only: the server cannot speak HTTP/2, so the client must not pick it
    context.set_alpn_protocols(["http/1.1"])
    return context


def main():
    args = parseArguments()
    ownStateDir = not args.state_dir
    stateDir = args.state_dir or tempfile.mkdtemp(prefix="standin-")
    os.makedirs(stateDir, exist_ok=True)
    serviceHost = args.hosts[0]
    foreignHost = args.hosts[1] if len(args.hosts) > 1 else serviceHost
    serviceOrigin = "https://%s:%d" % (serviceHost, args.port)
    foreignOrigin = "https://%s:%d" % (foreignHost, args.port)

    try:
        context = makeSslContext(args.cert, args.key)
        state = StandinState(serviceHost, args.port, stateDir, args.update_key)
        pages = PageStore(serviceOrigin, foreignOrigin, args.messenger_dir)
        servers = [TlsHttpServer(host, args.port, StandinHandler, context, state, pages) for host in args.hosts]
    except (OSError, ssl.SSLError) as e:
        sys.stderr.write("standin: cannot start: %s\n" % e)
        return 1

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for t in threads:
        t.start()
    sys.stderr.write("standin: state folder %s\n" % stateDir)
    sys.stdout.write("standin ready %s\n" % serviceOrigin)
    sys.stdout.flush()

    while not stop.wait(1.0):
        pass
    for s in servers:
        s.shutdown()
        s.server_close()
    if ownStateDir:
        shutil.rmtree(stateDir, ignore_errors=True)
    sys.stderr.write("standin: stopped\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
