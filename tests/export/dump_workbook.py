#!/usr/bin/env python3
"""Prints what a spreadsheet reader sees in a workbook, one "key=value" per line.

.xlsx files are read with openpyxl, .xls files with xlrd. Keys: sheets, <sheet>.rows,
<sheet>.columns, <sheet>.stored_dimension (.xlsx), <sheet>.default_row_height, <sheet>.row<N>.height, <sheet>.col<A>.width,
<sheet>.col<A>.style (the format that unused cells of the column take) and per cell
<sheet>!<A1>.value / .type / .font / .fill / .border / .align / .numfmt. Values have
backslashes, CR and LF escaped. Colours are RRGGBB.
"""
import sys


def esc(text):
    return str(text).replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def col_letter(index):  # 1-based
    letters = ""
    while index:
        index, rem = divmod(index - 1, 26)
        letters = chr(65 + rem) + letters
    return letters


def rgb(color):
    if color is None or color.rgb is None or not isinstance(color.rgb, str):
        return "none"
    return color.rgb[-6:].upper()


def xlsx_style(obj):
    font = obj.font
    side = lambda s: f"{s.style}:{rgb(s.color)}"
    border = obj.border
    fill = obj.fill
    return {
        "font": f"{font.name}|{font.sz:g}|{rgb(font.color)}",
        "fill": f"{fill.fill_type}|{rgb(fill.fgColor)}" if fill.fill_type else "none",
        "border": ",".join(side(s) for s in (border.left, border.right, border.top, border.bottom)),
        "align": f"{obj.alignment.horizontal}|{obj.alignment.vertical}",
        "numfmt": obj.number_format,
    }


def dump_xlsx(path, out):
    import openpyxl
    from openpyxl.utils.escape import unescape

    # The dimension stored in the file, as streaming readers take it.
    for ws in openpyxl.load_workbook(path, read_only=True).worksheets:
        out.append(f"{ws.title}.stored_dimension={ws.calculate_dimension()}")
    book = openpyxl.load_workbook(path)
    out.append("sheets=" + ",".join(book.sheetnames))
    for ws in book.worksheets:
        name = ws.title
        out.append(f"{name}.rows={ws.max_row}")
        out.append(f"{name}.columns={ws.max_column}")
        fmt = ws.sheet_format
        custom = 1 if fmt.customHeight else 0
        out.append(f"{name}.default_row_height={fmt.defaultRowHeight:g}|custom={custom}")
        for r in range(1, ws.max_row + 1):
            height = ws.row_dimensions[r].height
            out.append(f"{name}.row{r}.height={fmt.defaultRowHeight if height is None else height:g}")
        for dim in list(ws.column_dimensions.values()):
            for index in range(dim.min, dim.max + 1):
                if index > 30 and index != dim.max:
                    continue  # the far columns of a range: its last one stands for them
                letter = col_letter(index)
                out.append(f"{name}.col{letter}.width={dim.width:g}")
                style = xlsx_style(dim)
                out.append(f"{name}.col{letter}.style=" +
                           ";".join(f"{k}:{v}" for k, v in style.items()))
        for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column):
            for cell in row:
                key = f"{name}!{cell.coordinate}"
                value = cell.value
                if isinstance(value, str):
                    # What a spreadsheet program shows: the format's _xHHHH_ escapes decoded,
                    # which openpyxl leaves as stored in inline strings.
                    value = unescape(value)
                out.append(f"{key}.value=" + ("<none>" if value is None else esc(value)))
                out.append(f"{key}.type={cell.data_type}")
                for k, v in xlsx_style(cell).items():
                    out.append(f"{key}.{k}={v}")


def dump_xls(path, out):
    import xlrd

    book = xlrd.open_workbook(path, formatting_info=True)
    out.append("sheets=" + ",".join(book.sheet_names()))
    line_styles = {0: "none", 1: "thin", 2: "medium"}
    h_align = {0: "general", 1: "left", 2: "center", 3: "right"}
    v_align = {0: "top", 1: "center", 2: "bottom"}

    def colour(index):
        value = book.colour_map.get(index)
        return "none" if value is None else "%02X%02X%02X" % value

    def style(xf_index):
        xf = book.xf_list[xf_index]
        font = book.font_list[xf.font_index]
        b = xf.border
        sides = [(b.left_line_style, b.left_colour_index), (b.right_line_style, b.right_colour_index),
                 (b.top_line_style, b.top_colour_index), (b.bottom_line_style, b.bottom_colour_index)]
        fill = "none"
        if xf.background.fill_pattern == 1:
            fill = "solid|" + colour(xf.background.pattern_colour_index)
        return {
            "font": f"{font.name}|{font.height / 20:g}|{colour(font.colour_index)}",
            "fill": fill,
            "border": ",".join(f"{line_styles.get(s, s)}:{colour(c)}" for s, c in sides),
            "align": f"{h_align.get(xf.alignment.hor_align)}|{v_align.get(xf.alignment.vert_align)}",
            "numfmt": book.format_map[xf.format_key].format_str,
        }

    for ws in book.sheets():
        name = ws.name
        out.append(f"{name}.rows={ws.nrows}")
        out.append(f"{name}.columns={ws.ncols}")
        default = ws.default_row_height / 20 if ws.default_row_height is not None else 0
        out.append(f"{name}.default_row_height={default:g}|custom={1 if ws.default_row_height_mismatch else 0}")
        for r in range(ws.nrows):
            info = ws.rowinfo_map.get(r)
            out.append(f"{name}.row{r + 1}.height={(info.height / 20) if info else default:g}")
        for c, info in sorted(ws.colinfo_map.items()):
            letter = col_letter(c + 1)
            out.append(f"{name}.col{letter}.width={info.width / 256:g}")
            out.append(f"{name}.col{letter}.style=" +
                       ";".join(f"{k}:{v}" for k, v in style(info.xf_index).items()))
        types = {xlrd.XL_CELL_TEXT: "s", xlrd.XL_CELL_NUMBER: "n", xlrd.XL_CELL_EMPTY: "n",
                 xlrd.XL_CELL_BLANK: "n"}
        for r in range(ws.nrows):
            for c in range(ws.ncols):
                cell = ws.cell(r, c)
                key = f"{name}!{col_letter(c + 1)}{r + 1}"
                empty = cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK)
                out.append(f"{key}.value=" + ("<none>" if empty else esc(cell.value)))
                out.append(f"{key}.type={types.get(cell.ctype, cell.ctype)}")
                for k, v in style(cell.xf_index).items():
                    out.append(f"{key}.{k}={v}")


def main():
    path = sys.argv[1]
    out = []
    if path.lower().endswith(".xls"):
        dump_xls(path, out)
    else:
        dump_xlsx(path, out)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
