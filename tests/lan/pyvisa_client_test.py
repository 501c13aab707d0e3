#!/usr/bin/env python3
"""benchcap-cli vxi11-sim and socket-sim as the program runs them, on loopback ports:

- ONC RPC and VXI-11 calls of this script's own (RFC 5531 replies, result shapes, locks,
  the term char, time-outs and rates of the bench file);
- benchcap-cli run again and again against a gateway with a small link table;
- pyvisa with its pure-Python backend, a VISA client Benchcap did not write.

Usage: pyvisa_client_test.py BENCHCAP_CLI. Exit 0: passed; 1: failed; 77: pyvisa is missing
(everything else was checked), unless BENCHCAP_REQUIRE_ALL is set.
"""
import os
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

IDN7 = "Veltronik,KLT-3,100871/012,1.70"
IDN28 = "Veltronik,GWPZ10,100567/001,5.10"
RATE = 1_000_000
BENCH = f"""clock: real
instruments:
  - address: 7
    kind: spectrum-analyzer
    idn: "{IDN7}"
  - address: 25
    kind: silent
  - address: 28
    kind: signal-generator
    idn: "{IDN28}"
    options: "B1,B22"
    rate_bytes_per_s: {RATE}
"""
CORE, PORTMAPPER = 0x0607AF, 100000
CREATE_LINK, WRITE, READ, READSTB, TRIGGER, CLEAR, REMOTE, LOCAL = range(10, 18)
LOCK, UNLOCK, ENABLE_SRQ, DOCMD, DESTROY_LINK, CREATE_INTR, DESTROY_INTR = 18, 19, 20, 22, 23, 25, 26
WAITLOCK, END, TERMCHRSET = 1, 8, 128
REASON_CHR, REASON_END = 2, 4

failures = []
running = []  # emulators not stopped yet: killed when the script ends, whatever happened


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def u32(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def opaque(data):
    return u32(len(data)) + data + b"\0" * (-len(data) % 4)


class Emulator:
    """An emulator process; the line it prints tells its ports. SIGTERM must end it."""

    def __init__(self, cli, *args):
        self.proc = subprocess.Popen([cli, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        running.append(self.proc)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        self.line = self.proc.stdout.readline() if ready else ""
        ports = re.search(r"listening on [^ ]*:(\d+)", self.line)
        if not ports:
            running.remove(self.proc)
            self.proc.kill()
            _, err = self.proc.communicate(timeout=10)
            raise RuntimeError(f"{args[0]} did not start: {self.line!r} {err!r}")
        self.port = int(ports.group(1))
        pm = re.search(r"portmapper on port (\d+)", self.line)
        self.portmapper = int(pm.group(1)) if pm else None

    def stop(self):
        running.remove(self.proc)
        self.proc.terminate()
        try:
            out, _ = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out = ""
        # 128 + SIGTERM: the shell's convention for a program that a signal ended.
        check(self.proc.returncode == 143 and "stopped" in out, f"emulator ends on SIGTERM: {self.proc.returncode}")


class Rpc:
    """A bare ONC RPC client over TCP (RFC 5531: call header, AUTH_NONE, record marking)."""

    def __init__(self, port, program=CORE, version=1):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.program, self.version, self.xid = program, version, 0

    def call(self, proc, args=b"", program=None, version=None, rpcvers=2):
        self.xid += 1
        msg = u32(self.xid, 0, rpcvers, program or self.program, version or self.version, proc, 0, 0, 0, 0) + args
        self.sock.sendall(u32(0x80000000 | len(msg)) + msg)
        record = b""
        while True:
            head = struct.unpack(">I", self.exactly(4))[0]
            record += self.exactly(head & 0x7FFFFFFF)
            if head & 0x80000000:
                break
        xid, mtype, stat = struct.unpack(">3I", record[:12])
        check(xid == self.xid and mtype == 1, f"reply to call {self.xid}")
        if stat != 0:
            return "denied", record[12:]
        check(record[12:20] == u32(0, 0), "AUTH_NONE verifier")
        return struct.unpack(">I", record[20:24])[0], record[24:]

    def exactly(self, n):
        data = b""
        while len(data) < n:
            piece = self.sock.recv(n - len(data))
            if not piece:
                raise ConnectionError("the emulator closed the connection")
            data += piece
        return data

    def results(self, proc, args=b""):
        accept, body = self.call(proc, args)
        check(accept == 0, f"procedure {proc} accepted: {accept}")
        return body

    def link(self, device, lock=False, lock_timeout=0):
        body = self.results(CREATE_LINK, u32(1, int(lock), lock_timeout) + opaque(device.encode()))
        error, lid = struct.unpack(">2I", body[:8])
        return error, lid

    def close(self):
        self.sock.close()


def words(body):
    return struct.unpack(f">{len(body) // 4}I", body)


def check_emulator_protocol(port, portmapper):
    r = Rpc(port)
    check(r.call(0) == (0, b""), "NULL procedure: empty results")
    for proc in (1, 9, 21, 24, 27, 99):
        check(r.call(proc) == (3, b""), f"procedure {proc}: PROC_UNAVAIL")
    check(r.call(0, program=0x0607B0) == (1, b""), "another program: PROG_UNAVAIL")
    check(r.call(0, version=2) == (2, u32(1, 1)), "another version: PROG_MISMATCH 1..1")
    check(r.call(0, rpcvers=3) == ("denied", u32(0, 2, 2)), "RPC version 3: RPC_MISMATCH 2..2")
    check(r.call(CREATE_LINK, u32(1)) == (4, b""), "short create_link: GARBAGE_ARGS")
    check(r.call(WRITE, u32(1, 0, 0, 0, 100) + b"ab") == (4, b""), "opaque past the end: GARBAGE_ARGS")
    check(r.call(ENABLE_SRQ, u32(1, 1) + opaque(b"h" * 41)) == (4, b""), "SRQ handle of 41 bytes: GARBAGE_ARGS")

    # Device names without regard to case; errors 3 and 21 for nobody there and no address.
    for device, error in (("GPIB0,7", 0), ("inst0", 0), ("INST28", 0), ("gpib0,5", 3), ("gpib0,31", 21), ("usb0", 21)):
        check(r.link(device)[0] == error, f"create_link {device}: error {error}")
    _, lid = r.link("Gpib0,7")
    generic = u32(0, 0, 1000)
    shapes = [  # procedure, arguments after the link, result words on an unknown link
        (WRITE, u32(1000, 0, END) + opaque(b"*IDN?"), 2), (READ, u32(100, 1000, 0, 0, 0), 3),
        (READSTB, generic, 2), (TRIGGER, generic, 1), (CLEAR, generic, 1), (REMOTE, generic, 1),
        (LOCAL, generic, 1), (LOCK, u32(0, 0), 1), (UNLOCK, b"", 1), (ENABLE_SRQ, u32(1) + opaque(b"hd"), 1),
        (DOCMD, u32(0, 1000, 0, 0x020001, 1, 2) + opaque(b"\0\1"), 2), (DESTROY_LINK, b"", 1),
    ]
    for proc, args, size in shapes:
        body = r.results(proc, u32(9999) + args)
        check(len(body) == 4 * size and words(body)[0] == 4, f"procedure {proc} on no link: error 4 in {size} words: {body!r}")
    for proc, args, expected in ((TRIGGER, generic, 0), (CLEAR, generic, 0), (REMOTE, generic, 0), (LOCAL, generic, 0),
                                 (ENABLE_SRQ, u32(1) + opaque(b"srq"), 0), (DOCMD, u32(0, 1000, 0, 0x020001, 1, 2) + opaque(b"\0\1"), 8)):
        body = r.results(proc, u32(lid) + args)
        check(body == u32(expected) + (u32(0) if proc == DOCMD else b""), f"procedure {proc}: {body!r}")
    check(r.results(CREATE_INTR, u32(0x7F000001, 1, 0x0607B1, 1, 0)) == u32(8), "create_intr_chan: not supported")
    check(r.results(DESTROY_INTR) == u32(6), "destroy_intr_chan: channel not established")

    # The term char ends a read (reason CHR), at the message's end with END as well.
    def write(link, text, rpc=r):
        check(rpc.results(WRITE, u32(link, 1000, 0, END) + opaque(text)) == u32(0, len(text)), f"write {text!r}")

    def read(link, flags=0, term=0, size=1 << 20, io=5000, rpc=r):
        body = rpc.results(READ, u32(link, size, io, 0, flags, term))
        error, reason, n = struct.unpack(">3I", body[:12])
        return error, reason, body[12:12 + n]

    write(lid, b"*IDN?")
    check(read(lid, TERMCHRSET, 10) == (0, REASON_CHR | REASON_END, IDN7.encode() + b"\n"), "*IDN? with the term char")
    write(lid, b"*IDN?")
    check(read(lid, TERMCHRSET, ord(",")) == (0, REASON_CHR, b"Veltronik,"), "read up to ','")
    check(read(lid)[1] == REASON_END, "the rest up to END")
    write(lid, b"*IDN?")
    check(words(r.results(READSTB, u32(lid) + generic)) == (0, 0x10), "status byte: MAV")
    check(read(lid, size=5)[1:] == (1, b"Veltr"), "requestSize reached: REQCNT")
    r.results(CLEAR, u32(lid) + generic)

    # The bench file's rate on its real clock; a term char inside a binary answer.
    _, gen = r.link("gpib0,28")
    write(gen, b"HCOP:DATA?")
    start = time.monotonic()
    error, reason, first = read(gen, TERMCHRSET, ord("M"))
    check((error, reason, first) == (0, REASON_CHR, b"BM"), f"picture up to its first 'M': {error} {reason}")
    error, reason, rest = read(gen)
    picture = first + rest
    elapsed = time.monotonic() - start
    check(error == 0 and reason == REASON_END and picture.startswith(b"BM"), "the rest of the picture")
    check(len(picture) / RATE * 0.8 < elapsed < len(picture) / RATE + 1.5, f"{len(picture)} bytes at {RATE} B/s took {elapsed:.2f} s")

    # A silent instrument: error 15 once io_timeout has passed, not sooner.
    _, silent = r.link("gpib0,25")
    write(silent, b"*IDN?")
    start = time.monotonic()
    error = read(silent, io=1500)[0]
    elapsed = time.monotonic() - start
    check(error == 15 and 1.45 <= elapsed < 2.5, f"silent instrument: error {error} after {elapsed:.2f} s")

    # Locks are held per link; waitlock waits up to lock_timeout, and no longer.
    other = Rpc(port)
    _, lid2 = other.link("gpib0,7")
    check(r.results(LOCK, u32(lid, 0, 0)) == u32(0), "lock")
    check(other.results(WRITE, u32(lid2, 1000, 0, END) + opaque(b"*IDN?")) == u32(11, 0), "write refused while locked")
    start = time.monotonic()
    check(other.results(LOCK, u32(lid2, WAITLOCK, 400)) == u32(11), "waitlock gives up")
    check(0.38 <= time.monotonic() - start < 1.2, "the lock wait lasts lock_timeout")
    check(other.link("gpib0,7", lock=True, lock_timeout=200)[0] == 11, "create_link with lockDevice gives up")
    unlocker = threading.Timer(0.3, lambda: check(r.results(UNLOCK, u32(lid)) == u32(0), "unlock"))
    start = time.monotonic()
    unlocker.start()
    check(other.results(LOCK, u32(lid2, WAITLOCK, 5000)) == u32(0), "waitlock gets the lock when it is freed")
    unlocker.join()
    check(0.25 <= time.monotonic() - start < 1.5, "the lock is taken as soon as it is free")
    check(r.results(UNLOCK, u32(lid)) == u32(12), "unlock without the lock: error 12")
    other.close()  # its link goes, and its lock with it, once the emulator has seen the close
    freed = time.monotonic() + 10
    while (locked := r.results(LOCK, u32(lid, 0, 0))) == u32(11) and time.monotonic() < freed:
        time.sleep(0.01)
    check(locked == u32(0), "the lock of a closed connection's link is free")
    check(r.results(DESTROY_LINK, u32(lid)) == u32(0), "destroy_link")
    r.close()

    pm = Rpc(portmapper, PORTMAPPER, 2)
    check(pm.call(0) == (0, b""), "portmapper NULL")
    check(pm.call(3, u32(CORE, 1, 6, 0)) == (0, u32(port)), "GETPORT names the core channel")
    check(pm.call(3, u32(CORE, 1, 17, 0)) == (0, u32(0)), "no core channel over UDP")
    check(pm.call(3, u32(CORE)) == (4, b""), "short GETPORT: GARBAGE_ARGS")
    check(pm.call(5) == (3, b""), "CALLIT: PROC_UNAVAIL")
    pm.close()


def check_link_table(cli):
    """benchcap-cli destroys its links as each command ends: a gateway that keeps links
    until destroy_link, with room for two, serves command after command."""
    gateway = Emulator(cli, "vxi11-sim", "--listen", "127.0.0.1:0", "--max-links", "2", "--keep-links")
    interface = f"vxi11:127.0.0.1:{gateway.port}"
    with tempfile.TemporaryDirectory() as folder:
        runs = [["idn", "7"], ["trace", "7", "1", "-o", os.path.join(folder, "t.txt")], ["idn", "20"],
                ["idn", "7"], ["trace", "7", "1", "-o", os.path.join(folder, "u.txt")], ["idn", "7"]]
        for run in runs:
            done = subprocess.run([cli, "--interface", interface, *run], capture_output=True, text=True, timeout=60)
            check(done.returncode == 0, f"benchcap-cli {' '.join(run)}: {done.returncode} {done.stderr.strip()}")
    gateway.stop()


def check_pyvisa(pyvisa, rpc_module, cli, bench):
    # pyvisa-py asks the portmapper on port 111 only (rpc.PMAP_PORT; a TCPIP INSTR resource
    # has no port): the emulator answers there when the port is free to take, else on one
    # the system picks, which pyvisa-py is pointed to.
    try:
        probe = socket.socket()
        probe.bind(("127.0.0.1", 111))
        probe.close()
        portmapper = "111"
    except OSError:
        portmapper = "0"
    gateway = Emulator(cli, "vxi11-sim", "--listen", "127.0.0.1:0", "--portmapper", portmapper, "--bench", bench)
    rpc_module.PMAP_PORT = gateway.portmapper
    print(f"pyvisa-py asks the portmapper on port {gateway.portmapper}", flush=True)
    errors = pyvisa.errors
    rm = pyvisa.ResourceManager("@py")
    try:
        inst = rm.open_resource("TCPIP::127.0.0.1::GPIB0,7::INSTR", read_termination="\n", timeout=3000)
        check(inst.query("*IDN?") == IDN7, "GPIB0,7 answers *IDN?")
        first = rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n")
        check(first.query("*IDN?") == IDN7, "inst0 is the first instrument")
        inst.write("*IDN?")
        check(inst.read_stb() == 0x10, "serial poll: MAV")
        inst.read()
        check(inst.read_stb() == 0, "serial poll: nothing waiting")
        inst.assert_trigger()
        inst.clear()
        session = rm.visalib.sessions[inst.session]
        check(session.interface.device_docmd(session.link, 0, 1000, 1000, 0x020001, True, 2, b"\0\1") == (8, b""),
              "device_docmd: error and data")
        check(session.interface.device_enable_srq(session.link, True, b"h") == 0, "device_enable_srq")
        first.lock_excl()
        try:
            inst.query("*IDN?")
            check(False, "a write on a locked device fails")
        except errors.VisaIOError:
            pass
        first.unlock()
        check(inst.query("*IDN?") == IDN7, "the device is free again")
        try:
            inst.unlock()
            check(False, "unlock without a lock fails")
        except errors.VisaIOError:
            pass

        generator = rm.open_resource("TCPIP::127.0.0.1::gpib0,28::INSTR", read_termination="M", timeout=5000)
        generator.write("HCOP:DATA?")
        line = generator.read_raw()
        generator.read_termination = None
        start = time.monotonic()
        picture = line + generator.read_raw()
        elapsed = time.monotonic() - start
        check(line == b"BM" and len(picture) > 100000,
              f"the term char ends a read: {len(line)} of {len(picture)} bytes")
        check(elapsed > (len(picture) - len(line)) / RATE * 0.8, f"picture at the bench's rate: {elapsed:.2f} s")

        silent = rm.open_resource("TCPIP::127.0.0.1::gpib0,25::INSTR", timeout=1500)
        start = time.monotonic()
        try:
            silent.query("*IDN?")
            check(False, "a silent instrument times out")
        except errors.VisaIOError as error:
            elapsed = time.monotonic() - start
            check(error.error_code == pyvisa.constants.StatusCode.error_timeout and 1.45 <= elapsed < 2.5,
                  f"silent instrument: {error.error_code} after {elapsed:.2f} s")
        for resource in (inst, first, generator, silent):
            resource.close()

        socket_sim = Emulator(cli, "socket-sim", "--listen", "127.0.0.1:0", "--address", "28", "--bench", bench)
        sock = rm.open_resource(f"TCPIP::127.0.0.1::{socket_sim.port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=5000)
        check(sock.query("*IDN?") == IDN28, "socket: *IDN?")
        check(sock.query("*IDN?;*OPT?") == IDN28 + ";B1,B22", "socket: both answers of a compound query")
        check(sock.query("*STB?") == "0", "socket: *STB?")
        sock.write("NO:SUCH:COMMAND")
        check(sock.query("*STB?") == "4", "socket: *STB? with an error queued")
        check(sock.query("*CLS;*IDN?;*STB?") == IDN28 + ";16", "socket: *STB? with an answer waiting")
        picture = sock.query_binary_values("HCOP:DATA?", datatype="B", container=bytes)
        check(picture.startswith(b"BM") and len(picture) > 100000, "socket: HCOP:DATA? as a block")
        check(sock.query("*IDN?") == IDN28, "socket: the block's terminator was read with it")
        sock.close()
        socket_sim.stop()
    finally:
        rm.close()
        gateway.stop()


def main():
    try:
        return run(sys.argv[1])
    finally:
        for proc in running:
            proc.kill()
            proc.wait(10)


def run(cli):
    with tempfile.TemporaryDirectory() as folder:
        bench = os.path.join(folder, "bench.yaml")
        with open(bench, "w") as f:
            f.write(BENCH)
        gateway = Emulator(cli, "vxi11-sim", "--listen", "127.0.0.1:0", "--portmapper", "0", "--bench", bench)
        try:
            check_emulator_protocol(gateway.port, gateway.portmapper)
        finally:
            gateway.stop()
        check_link_table(cli)
        try:
            import pyvisa
            import pyvisa.constants
            import pyvisa.errors
            from pyvisa_py.protocols import rpc
        except ImportError:
            pyvisa = None
        if pyvisa:
            check_pyvisa(pyvisa, rpc, cli, bench)
    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    if not pyvisa:
        why = "pyvisa and pyvisa-py are missing (Debian: python3-pyvisa python3-pyvisa-py)"
        if os.environ.get("BENCHCAP_REQUIRE_ALL", "") not in ("", "0"):
            print(f"FAIL: {why} (BENCHCAP_REQUIRE_ALL is set: install them)")
            return 1
        print(f"[  SKIPPED ] PyvisaClient.Emulators: {why}")
        return 77
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
