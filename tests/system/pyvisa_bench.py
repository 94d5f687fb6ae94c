#!/usr/bin/env python3
"""Drives the bench through the remote port with PyVISA (the pyvisa-py
backend), as a user's script would: identify, set the sweep, run, wait with
*OPC?, read the trace as a definite-length block, read a marker, write a PDF
report and read the error queue. A standard client nobody here wrote is the
check that the port is what instrument scripts expect.

Usage: pyvisa_bench.py RUN_SCHEME BENCH_SCHEME WORK_DIR
"""
import os
import signal
import subprocess
import sys

import pyvisa


def main():
    runner, scheme, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, ".config"), QT_QPA_PLATFORM="offscreen")
    log_name = os.path.join(work, "vk-run-scheme.log")
    log = open(log_name, "w")
    bench = subprocess.Popen([runner, scheme, "--remote", "0"], stdout=subprocess.PIPE, stderr=log,
                             env=env, text=True, encoding="utf-8")
    try:
        line = bench.stdout.readline()
        if ":" not in line:
            raise SystemExit("the bench did not start its remote port: %r\n%s" % (line, open(log_name).read()))
        port = int(line.rsplit(":", 1)[1])

        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                                write_termination="\n", encoding="utf-8", timeout=90000)
        idn = inst.query("*IDN?")
        assert idn.startswith("Korvan,Vektra Launcher,"), idn
        inst.write("MOD:STAT \"sweep\",'<parameters><element id=\"1\" value=\"200\"/>"
                   "<element id=\"2\" value=\"1000\"/><element id=\"3\" value=\"801\"/></parameters>'")
        inst.write("RUN:STOP")
        inst.write("RUN:STAR")
        assert inst.query("*OPC?") == "1"

        block = inst.query_binary_values('TRAC:DATA? "chart"', datatype="B", container=bytes)
        rows = block.decode("utf-8").splitlines()
        assert len(rows) == 1 + 801, (len(rows), rows[:2])
        first = [float(v) for v in rows[1].split(",") if v]
        last = [float(v) for v in rows[-1].split(",") if v]
        assert abs(first[0] - 200) < 1e-6 and abs(last[0] - 1000) < 1e-6, (rows[1], rows[-1])

        marker = inst.query('MARK:VAL? "chart",0').split(",")
        assert 200 <= float(marker[0]) <= 1000, marker

        report = os.path.join(work, "отчёт.pdf")
        inst.write('REP:PDF "chart","%s"' % report)
        assert inst.query("*OPC?") == "1"
        with open(report, "rb") as f:
            assert f.read(5) == b"%PDF-", report
        assert inst.query("SYST:ERR?") == '0,"Нет ошибок"'
        inst.close()
        rm.close()
    finally:
        bench.send_signal(signal.SIGTERM)
        try:
            bench.wait(60)
        except subprocess.TimeoutExpired:
            bench.kill()
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
