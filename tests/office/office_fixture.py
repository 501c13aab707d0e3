#!/usr/bin/env python3
"""Test side of the office tests: prepares documents in a running LibreOffice and reads
them back, one JSON request and one JSON answer per line (the same protocol the paste
helper speaks). Argument: the UNO connection, e.g. "pipe,name=benchcap-test-1234".

Requests:
  {"op": "attach"}
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
  {"op": "terminate"}                ends the office
"""

import json
import sys

import uno
from com.sun.star.beans import PropertyValue

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
    def __init__(self, connection):
        self.connection = connection
        self.desktop = None
        self.sheet_doc = None
        self.text_doc = None

    def attach(self, _r):
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

    def terminate(self, _r):
        try:
            self.desktop.terminate()
        except Exception:
            pass  # the connection goes down with the office
        return {}


def main():
    fixture = Fixture(sys.argv[1])
    for line in sys.stdin:
        if not line.strip():
            continue
        request = json.loads(line)
        try:
            answer = getattr(fixture, request["op"])(request)
            answer["ok"] = True
        except Exception as error:
            answer = {"ok": False, "error": "%s: %s" % (type(error).__name__, error)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
