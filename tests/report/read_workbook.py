#!/usr/bin/python3
"""Prints a workbook's cells as openpyxl reads them, as JSON: per sheet, in
order, a list of rows, each a list of cells, null for an empty cell, else
{"v": value, "t": Python type name, "f": number format, "b": bold}. Date-times
are ISO texts. A workbook the reader refuses ends with its error and status 1.

    /usr/bin/python3 read_workbook.py BOOK.xlsx
"""
import datetime
import json
import sys

import openpyxl


def cell(c):
    if c.value is None:
        return None
    value = c.value
    kind = type(value).__name__
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        value = value.isoformat()
    return {"v": value, "t": kind, "f": c.number_format, "b": bool(c.font and c.font.b)}


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheets = [[sheet.title, [[cell(c) for c in row] for row in sheet.iter_rows()]]
              for sheet in book.worksheets]
    print(json.dumps(sheets))


if __name__ == "__main__":
    main()
