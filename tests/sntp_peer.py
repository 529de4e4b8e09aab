"""A scripted SNTP peer on 127.0.0.1, run as a child process by the tests.

Prints its port, then for every line read from stdin receives one datagram,
prints the request in hex and answers as the line says: hex bytes to send,
"-" for no answer, or "hold" to read the answer from the next line first.
With the arguments "auto HEX" it answers every datagram with HEX instead.
"""

import socket
import sys


def main():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(sock.getsockname()[1], flush=True)
    if sys.argv[1:2] == ["auto"]:
        answer = bytes.fromhex(sys.argv[2])
        while True:
            _, peer = sock.recvfrom(1024)
            sock.sendto(answer, peer)
    for line in sys.stdin:
        command = line.strip()
        request, peer = sock.recvfrom(1024)
        print(request.hex(), flush=True)
        if command == "hold":
            command = sys.stdin.readline().strip()
        if command != "-":
            sock.sendto(bytes.fromhex(command), peer)


if __name__ == "__main__":
    main()
