#!/usr/bin/env python3
"""Benchcap's bridge to a running LibreOffice, through LibreOffice's own Python UNO binding.

Benchcap starts this script for one paste and talks to it with one JSON object per line on
standard input and output; the script attaches to the office named on its command line
(a UNO connection such as "pipe,name=benchcap") and never starts one. Every answer is
{"ok": true, ...} or {"ok": false, "error": "..."}; an attach to an office that is not
running also says "notRunning": true. The script ends when its input ends.

Requests (rows and columns are 1-based, as in Cells(row, column)):
  {"op": "attach"}
  {"op": "pastePicture", "data": BASE64}        picture at the text document's view cursor
  {"op": "activeCell"}                          -> "row", "column" of the active spreadsheet
  {"op": "occupied", "row", "column", "rows", "columns"}  -> "count", "first" (e.g. "C7")
  {"op": "writeColumn", "row", "column", "values": [numbers]}
  {"op": "moveActiveCell", "rows", "columns"}
"""

import base64
import json
import re
import sys

import uno
from com.sun.star.connection import NoConnectException
from com.sun.star.beans import PropertyValue
from com.sun.star.awt import Size
from com.sun.star.text.TextContentAnchorType import AS_CHARACTER

NAN = float("nan")


class Failure(Exception):
    pass


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def column_name(column):
    """1 -> A, 27 -> AA."""
    name = ""
    while column > 0:
        column, rest = divmod(column - 1, 26)
        name = chr(ord("A") + rest) + name
    return name


class Office:
    def __init__(self, connection):
        self.connection = connection
        self.ctx = None
        self.desktop = None
        self.sheet_doc = None
        self.sheet = None

    def attach(self, _request):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        try:
            self.ctx = resolver.resolve("uno:%s;urp;StarOffice.ComponentContext" % self.connection)
            self.desktop = self.ctx.ServiceManager.createInstanceWithContext(
                "com.sun.star.frame.Desktop", self.ctx)
        except NoConnectException:
            return {"ok": False, "notRunning": True,
                    "error": "no LibreOffice accepts connections at %s" % self.connection}
        except Exception as error:  # something that is no LibreOffice answered there
            self.ctx = self.desktop = None
            detail = uno_message(error) or type(error).__name__
            return {"ok": False, "notRunning": True,
                    "error": "no LibreOffice accepts connections at %s (what answered there "
                             "said: %s)" % (self.connection, detail)}
        return {"ok": True}

    def documents(self, service):
        """The office's documents of one kind, the active one first."""
        found = []
        current = self.desktop.getCurrentComponent()
        if current is not None and current.supportsService(service):
            found.append(current)
        components = self.desktop.getComponents().createEnumeration()
        while components.hasMoreElements():
            doc = components.nextElement()
            if doc.supportsService(service) and not any(doc is d for d in found):
                found.append(doc)
        return found

    def text_document(self):
        docs = self.documents("com.sun.star.text.TextDocument")
        if not docs:
            raise Failure("LibreOffice has no text document open: open one in Writer")
        return docs[0]

    def spreadsheet(self):
        if self.sheet is None:
            docs = self.documents("com.sun.star.sheet.SpreadsheetDocument")
            if not docs:
                raise Failure("LibreOffice has no spreadsheet open: open one in Calc")
            self.sheet_doc = docs[0]
            self.sheet = self.sheet_doc.getCurrentController().getActiveSheet()
        return self.sheet

    def pastePicture(self, request):
        doc = self.text_document()
        data = base64.b64decode(request["data"])
        stream = self.ctx.ServiceManager.createInstanceWithArgumentsAndContext(
            "com.sun.star.io.SequenceInputStream", (uno.ByteSequence(data),), self.ctx)
        provider = self.ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.graphic.GraphicProvider", self.ctx)
        graphic = provider.queryGraphic((prop("InputStream", stream),))
        if graphic is None:
            raise Failure("LibreOffice could not read the picture")
        cursor = doc.getCurrentController().getViewCursor()
        picture = doc.createInstance("com.sun.star.text.TextGraphicObject")
        picture.Graphic = graphic
        picture.AnchorType = AS_CHARACTER
        picture.Size = self.picture_size(doc, cursor, graphic)
        cursor.getText().insertTextContent(cursor, picture, False)
        return {"ok": True}

    @staticmethod
    def picture_size(doc, cursor, graphic):
        """The picture's own size, made smaller to fit the page's text width."""
        size = graphic.Size100thMM
        if size.Width <= 0 or size.Height <= 0:
            pixels = graphic.SizePixel  # no resolution stored: take 96 dpi
            size = Size(pixels.Width * 2540 // 96, pixels.Height * 2540 // 96)
        try:
            style = doc.getStyleFamilies().getByName("PageStyles").getByName(
                cursor.PageStyleName)
            width = style.Width - style.LeftMargin - style.RightMargin
        except Exception:
            width = 0
        if width > 0 and size.Width > width:
            size = Size(width, max(1, size.Height * width // size.Width))
        return size

    def activeCell(self, _request):
        sheet = self.spreadsheet()
        selection = self.sheet_doc.getCurrentController().getSelection()
        if selection.supportsService("com.sun.star.sheet.SheetCellRanges"):
            selection = selection.getByIndex(0)
        if not hasattr(selection, "getRangeAddress"):
            raise Failure("the spreadsheet's selection is not a cell: click a cell and try again")
        address = selection.getRangeAddress()
        if address.Sheet != sheet.getRangeAddress().Sheet:
            self.sheet = self.sheet_doc.getSheets().getByIndex(address.Sheet)
        return {"ok": True, "row": address.StartRow + 1, "column": address.StartColumn + 1}

    def block(self, row, column, rows, columns):
        sheet = self.spreadsheet()
        if row < 1 or column < 1:
            raise Failure("cell row %d, column %d is outside the sheet" % (row, column))
        try:
            return sheet.getCellRangeByPosition(column - 1, row - 1, column + columns - 2,
                                                row + rows - 2)
        except Exception:
            raise Failure("the block from %s%d, %d rows by %d columns, does not fit on the sheet"
                          % (column_name(column), row, rows, columns))

    def occupied(self, request):
        block = self.block(request["row"], request["column"], request["rows"], request["columns"])
        # One call for the whole block: cell by cell would be a round trip per cell. The
        # formula view of a cell is empty only for an empty cell (a 0 reads "0").
        # (queryContentCells is not used: it reports cells beside the block too.)
        rows = block.getFormulaArray()
        count = 0
        first = None
        for r, row in enumerate(rows):
            for c, text in enumerate(row):
                if text != "":
                    count += 1
                    if first is None or (c, r) < first:
                        first = (c, r)
        name = ""
        if first is not None:
            name = "%s%d" % (column_name(request["column"] + first[0]), request["row"] + first[1])
        return {"ok": True, "count": count, "first": name}

    def writeColumn(self, request):
        values = request["values"]
        if not values:
            return {"ok": True}
        block = self.block(request["row"], request["column"], len(values), 1)
        try:
            # A value that is not a finite number arrives as null; it goes in as NaN.
            block.setDataArray(tuple((NAN if v is None else float(v),) for v in values))
        except Exception:
            if self.sheet.isProtected():
                raise Failure("the sheet is protected: unprotect it (Tools > Protect Sheet) "
                              "and paste again")
            raise
        return {"ok": True}

    def moveActiveCell(self, request):
        sheet = self.spreadsheet()
        controller = self.sheet_doc.getCurrentController()
        here = self.activeCell({})
        row = here["row"] + request["rows"]
        column = here["column"] + request["columns"]
        controller.select(self.block(row, column, 1, 1))
        return {"ok": True}


REQUESTS = ("attach", "pastePicture", "activeCell", "occupied", "writeColumn", "moveActiveCell")


def uno_message(error):
    """A UNO exception's own message without the office's source location, which helps
    nobody at the bench."""
    message = getattr(error, "Message", "") or str(error)
    return re.sub(r"\s*at \./\S+:\d+\s*$", "", message).strip()


def describe(error):
    """A UNO exception's own message, or its kind when it has none."""
    message = uno_message(error)
    kind = type(error).__name__
    if "DisposedException" in kind:
        return "the document was closed meanwhile"
    return "LibreOffice refused the request: %s" % (message or kind)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: benchcap_office_uno.py CONNECTION\n")
        return 2
    office = Office(sys.argv[1])
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            request = json.loads(line)
            op = request.get("op")
            if op not in REQUESTS:
                answer = {"ok": False, "error": "unknown request %r" % op}
            elif op != "attach" and office.desktop is None:
                answer = {"ok": False, "error": "not attached to LibreOffice"}
            else:
                answer = getattr(office, op)(request)
        except Failure as failure:
            answer = {"ok": False, "error": str(failure)}
        except Exception as error:  # any UNO failure goes back as an answer, not a crash
            answer = {"ok": False, "error": describe(error)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
