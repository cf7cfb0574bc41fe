#!/usr/bin/python3
"""Reads an .xls file with xlrd and prints what the tests compare, one fact per line.

    dump_xls.py WORKBOOK             workbook dump (see below)
    dump_xls.py --stream FILE OUT    copies the compound file's Workbook stream to OUT;
                                     olefile, when installed, reads the file as well, set
                                     to reject any structural defect

Workbook dump lines (texts are JSON strings, colours rrggbb or "none"):
    sheets N
    sheet INDEX NAME rows NROWS cols NCOLS
    defaultrow HEIGHT mismatch FLAG
    col C width W xf XF
    row R height H mismatch FLAG
    cell R C TYPE xf XF VALUE
    xf INDEX font NAME height H colour C fill PATTERN fillcolour C
       borders L R T B bordercolours L R T B halign H valign V format FORMAT
    log TEXT                         anything xlrd reported while reading
"""
import io
import json
import sys

import xlrd
from xlrd import compdoc

CELL_TYPES = {
    xlrd.XL_CELL_EMPTY: "empty",
    xlrd.XL_CELL_TEXT: "text",
    xlrd.XL_CELL_NUMBER: "number",
    xlrd.XL_CELL_DATE: "date",
    xlrd.XL_CELL_BOOLEAN: "boolean",
    xlrd.XL_CELL_ERROR: "error",
    xlrd.XL_CELL_BLANK: "blank",
}


def text(value):
    return json.dumps(value, ensure_ascii=False)


def colour(book, index):
    rgb = book.colour_map.get(index)
    if rgb is None:
        return "none"
    return "%02x%02x%02x" % rgb


def dump_workbook(path, out):
    log = io.StringIO()
    book = xlrd.open_workbook(path, formatting_info=True, logfile=log)
    out.append("sheets %d" % book.nsheets)
    for index in range(book.nsheets):
        sheet = book.sheet_by_index(index)
        out.append("sheet %d %s rows %d cols %d" % (index, text(sheet.name), sheet.nrows, sheet.ncols))
        out.append("defaultrow %s mismatch %s" % (sheet.default_row_height,
                                                  sheet.default_row_height_mismatch))
        for column in sorted(sheet.colinfo_map):
            info = sheet.colinfo_map[column]
            out.append("col %d width %d xf %d" % (column, info.width, info.xf_index))
        for row in sorted(sheet.rowinfo_map):
            info = sheet.rowinfo_map[row]
            out.append("row %d height %d mismatch %d" % (row, info.height, info.height_mismatch))
        for row in range(sheet.nrows):
            for column in range(sheet.row_len(row)):
                cell = sheet.cell(row, column)
                out.append("cell %d %d %s xf %d %s" % (row, column, CELL_TYPES[cell.ctype],
                                                      cell.xf_index, text(cell.value)))
    for index, xf in enumerate(book.xf_list):
        font = book.font_list[xf.font_index]
        border = xf.border
        fmt = book.format_map.get(xf.format_key)
        out.append(
            "xf %d font %s height %d colour %s fill %d fillcolour %s "
            "borders %d %d %d %d bordercolours %s %s %s %s halign %d valign %d format %s" % (
                index, text(font.name), font.height, colour(book, font.colour_index),
                xf.background.fill_pattern, colour(book, xf.background.pattern_colour_index),
                border.left_line_style, border.right_line_style, border.top_line_style,
                border.bottom_line_style, colour(book, border.left_colour_index),
                colour(book, border.right_colour_index), colour(book, border.top_colour_index),
                colour(book, border.bottom_colour_index), xf.alignment.hor_align,
                xf.alignment.vert_align, text(fmt.format_str if fmt else "")))
    for line in log.getvalue().splitlines():
        if line.strip():
            out.append("log " + line)


def copy_stream(path, target):
    log = io.StringIO()
    with open(path, "rb") as f:
        doc = compdoc.CompDoc(f.read(), logfile=log)
    data = doc.get_named_stream("Workbook")
    if data is None:
        raise RuntimeError("no Workbook stream")
    with open(target, "wb") as f:
        f.write(data)
    lines = ["stream %d" % len(data)]
    lines += ["log " + line for line in log.getvalue().splitlines() if line.strip()]
    try:
        import olefile
    except ImportError:
        return lines
    try:
        ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
        if ole.listdir() != [["Workbook"]]:
            lines.append("log olefile lists %r" % ole.listdir())
        elif ole.openstream("Workbook").read() != data:
            lines.append("log olefile reads a different Workbook stream")
    except Exception as error:  # any defect the strict reader finds
        lines.append("log olefile: %s" % error)
    return lines


def main():
    sys.stdout.reconfigure(encoding="utf-8")
    if len(sys.argv) == 4 and sys.argv[1] == "--stream":
        lines = copy_stream(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 2:
        lines = []
        dump_workbook(sys.argv[1], lines)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    sys.stdout.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
