#!/usr/bin/env python3
"""Test side of the office tests: prepares documents in a running LibreOffice and reads
them back, one JSON request and one JSON answer per line (the same protocol the paste
helper speaks). It starts the office itself: headless, with a profile of its own, ended
with the fixture (at "terminate", at the end of its input, or when its parent dies).

Requests:
  {"op": "start", "soffice": PATH}   -> "connection": the UNO connection of the office
  {"op": "newSpreadsheet"}           a new spreadsheet; the previous ones are closed
  {"op": "newTextDocument"}          a new text document; the previous ones are closed
  {"op": "activateSpreadsheet"}      brings the spreadsheet to the front
  {"op": "select", "cell": "C5"}     makes C5 the active cell
  {"op": "set", "cell": "C5", "value": 1.5 | "text" | "=formula"}
  {"op": "protect"}                  protects the active sheet
  {"op": "read", "range": "C5:D505"} -> "cells": rows of numbers, texts or null (empty)
  {"op": "activeCell"}               -> "cell": "E5"
  {"op": "pictures"}                 -> "count", "widths" (1/100 mm) of the text's pictures
  {"op": "save", "url": "file:///tmp/x.ods"}   stores the spreadsheet
  {"op": "listen", "answer": "close" | "never"}
                                     -> "port" of a loopback socket that is no office: it
                                        closes each connection, or keeps it without a word
  {"op": "terminate"}                ends the office
"""

import ctypes
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

try:
    import uno
    from com.sun.star.beans import PropertyValue
except ImportError:
    uno = None

SHEET = "com.sun.star.sheet.SpreadsheetDocument"
TEXT_DOCUMENT = "com.sun.star.text.TextDocument"


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


class Fixture:
    def __init__(self):
        self.connection = "pipe,name=benchcap-test-%d" % os.getpid()
        self.office = None
        self.profile = None
        self.desktop = None
        self.kept = []
        self.sheet_doc = None
        self.text_doc = None

    def start(self, r):
        # soffice.bin itself rather than the soffice script, whose launcher would keep the
        # office as a grandchild, out of reach of the parent-death signal.
        soffice = os.path.realpath(r["soffice"])
        binary = os.path.join(os.path.dirname(soffice), "soffice.bin")
        self.profile = tempfile.mkdtemp(prefix="benchcap-office-profile-")
        args = [binary if os.path.exists(binary) else soffice, "--headless", "--invisible",
                "--norestore", "--nologo", "--accept=%s;urp;" % self.connection,
                "-env:UserInstallation=file://" + self.profile]
        libc = ctypes.CDLL(None)

        def own_group_ended_with_us():
            os.setsid()
            libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG

        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            # A fresh profile makes the office restart once (exit code 81) before it listens.
            if self.office is None or self.office.poll() is not None:
                self.office = subprocess.Popen(args, preexec_fn=own_group_ended_with_us,
                                               stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL)
            try:
                self.attach()
                return {"connection": self.connection}
            except Exception:
                time.sleep(0.3)
        raise RuntimeError("the headless LibreOffice did not accept connections within 90 s")

    def stop(self):
        if self.office is not None:
            try:
                self.office.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.office.pid, signal.SIGKILL)
                self.office.wait(5)
            self.office = None
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)

    def attach(self):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        ctx = resolver.resolve("uno:%s;urp;StarOffice.ComponentContext" % self.connection)
        self.desktop = ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", ctx)
        return {}

    def close_all(self, service):
        components = self.desktop.getComponents().createEnumeration()
        docs = []
        while components.hasMoreElements():
            doc = components.nextElement()
            if doc.supportsService(service):
                docs.append(doc)
        for doc in docs:
            doc.close(True)

    def load(self, url):
        return self.desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True),))

    def newSpreadsheet(self, _r):
        self.close_all(SHEET)
        self.sheet_doc = self.load("private:factory/scalc")
        return {}

    def newTextDocument(self, _r):
        self.close_all(TEXT_DOCUMENT)
        self.text_doc = self.load("private:factory/swriter")
        return {}

    def activateSpreadsheet(self, _r):
        frame = self.sheet_doc.getCurrentController().getFrame()
        frame.activate()
        frame.getContainerWindow().setFocus()
        self.desktop.setActiveFrame(frame)
        return {}

    def sheet(self):
        return self.sheet_doc.getCurrentController().getActiveSheet()

    def select(self, r):
        self.sheet_doc.getCurrentController().select(self.sheet().getCellRangeByName(r["cell"]))
        return {}

    def set(self, r):
        cell = self.sheet().getCellRangeByName(r["cell"])
        value = r["value"]
        if isinstance(value, str):
            cell.setFormula(value)
        else:
            cell.setValue(float(value))
        return {}

    def protect(self, _r):
        self.sheet().protect("")
        return {}

    def read(self, r):
        # Two calls for the block; cell by cell would be a round trip per cell.
        block = self.sheet().getCellRangeByName(r["range"])
        rows = []
        for numbers, texts in zip(block.getDataArray(), block.getFormulaArray()):
            cells = []
            for number, text in zip(numbers, texts):
                if text == "":
                    cells.append(None)
                elif text.startswith("=") or is_number(text):
                    cells.append(number)
                else:
                    cells.append(text)
            rows.append(cells)
        return {"cells": rows}

    def activeCell(self, _r):
        selection = self.sheet_doc.getCurrentController().getSelection()
        return {"cell": selection.AbsoluteName.split(".")[-1].replace("$", "")}

    def pictures(self, _r):
        graphics = self.text_doc.getGraphicObjects()
        widths = [graphics.getByIndex(i).Size.Width for i in range(graphics.getCount())]
        return {"count": graphics.getCount(), "widths": widths}

    def save(self, r):
        self.sheet_doc.storeToURL(r["url"], ())
        return {}

    def listen(self, r):
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(4)
        self.kept.append(server)

        def serve():
            while True:
                taken, _ = server.accept()
                if r["answer"] == "close":
                    taken.close()
                else:
                    self.kept.append(taken)

        threading.Thread(target=serve, daemon=True).start()
        return {"port": server.getsockname()[1]}

    def terminate(self, _r):
        try:
            self.desktop.terminate()
        except Exception:
            pass  # the connection goes down with the office
        self.stop()
        return {}


def main():
    fixture = Fixture()
    try:
        for line in sys.stdin:
            if not line.strip():
                continue
            request = json.loads(line)
            try:
                if uno is None:
                    raise RuntimeError(
                        sys.executable + " has no LibreOffice UNO module (python3-uno)")
                answer = getattr(fixture, request["op"])(request)
                answer["ok"] = True
            except Exception as error:
                answer = {"ok": False, "error": "%s: %s" % (type(error).__name__, error)}
            sys.stdout.write(json.dumps(answer) + "\n")
            sys.stdout.flush()
    finally:
        fixture.terminate(None)


if __name__ == "__main__":
    main()
