"""Independent readers for the table library's tests.

  table_oracle.py dbf FILE NAME...   the named fields of every live record,
                                     read by python3-dbfread
  table_oracle.py csv FILE           every row read by Python's csv module

One line per record, fields separated by the unit separator (0x1F), bytes
as they stand in the file (latin-1 round trip). dbf values are written the
way the test shows what the library reads: text without surrounding blanks,
numbers %.17g (a blank number reads as 0), whole numbers of fewer than ten
digits as integers, dates CCYYMMDD (none: empty), logicals T/F, currency with
two decimals, date-times as their date.
"""
import csv
import io
import sys

BLANKS = ' \t\n\r\x0b\x0c'


def dbf_value(field, value):
    kind = field.type
    if kind in 'CV':
        if value is None:
            return ''
        if isinstance(value, bytes):
            value = value.decode('latin1')
        return value.strip(BLANKS)
    if kind in 'NF':
        whole = kind == 'N' and field.decimal_count == 0 and field.length < 10
        if value is None:
            return '0'
        return str(int(value)) if whole else '%.17g' % float(value)
    if kind == 'I':
        return str(int(value or 0))
    if kind == 'B':
        return '%.17g' % float(value or 0)
    if kind == 'Y':
        return '%.2f' % (value or 0)
    if kind == 'L':
        return 'T' if value is True else 'F'
    if kind in 'DT':
        return '' if value is None else value.strftime('%Y%m%d')
    raise SystemExit('no canonical form for field type %r' % kind)


def dump_dbf(path, names):
    from dbfread import DBF
    table = DBF(path, encoding='latin1', ignore_missing_memofile=True, char_decode_errors='strict')
    fields = {f.name.upper(): f for f in table.fields}
    wanted = [fields[n.upper()] for n in names]
    out = sys.stdout.buffer
    for record in table:
        values = [dbf_value(f, record[f.name]) for f in wanted]
        out.write(('\x1f'.join(values) + '\n').encode('latin1'))


def dump_csv(path):
    with open(path, 'rb') as f:
        text = f.read().decode('latin1')
    out = sys.stdout.buffer
    for row in csv.reader(io.StringIO(text, newline='')):
        if row:
            out.write(('\x1f'.join(row) + '\n').encode('latin1'))


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == 'dbf':
        dump_dbf(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 3 and sys.argv[1] == 'csv':
        dump_csv(sys.argv[2])
    else:
        raise SystemExit(__doc__)


main()
