"""Dumps a data file through python3-dbfread in the form the engine's test
writes: one line per record, live records first, then deleted ones.

Memo fields are shown as their block numbers; the null-flags field is left
out. Usage: dbf_dump.py FILE.dbf
"""
import struct
import sys

from dbfread import DBF, FieldParser


class Raw(FieldParser):
    def _pointer(self, field, data):
        if field.length == 4:
            return struct.unpack('<I', data)[0]
        text = data.strip(b' \0')
        return int(text) if text else 0

    def parseM(self, field, data):
        return self._pointer(field, data)

    def parseG(self, field, data):
        return self._pointer(field, data)


def show(field, value):
    kind = field.type
    if kind in 'NFB':
        return '' if value is None else '%.17g' % float(value)
    if kind == 'L':
        return 'T' if value is True else 'F'
    if kind == 'D':
        return '' if value is None else value.strftime('%Y%m%d')
    if kind == 'T':
        if value is None:
            return ''
        whole = value.replace(microsecond=0)
        if value.microsecond >= 500000:
            whole = whole + __import__('datetime').timedelta(seconds=1)
        return whole.strftime('%Y%m%d%H:%M:%S')
    if kind == 'Y':
        return '%.4f' % value
    if kind in 'MGI':
        return str(value)
    return value


def main():
    table = DBF(sys.argv[1], encoding='latin1', parserclass=Raw, ignore_missing_memofile=True,
                char_decode_errors='strict')
    fields = [f for f in table.fields if f.type != '0']
    out = sys.stdout.buffer
    for section, records in (('live', table), ('deleted', table.deleted)):
        for record in records:
            values = [show(f, record[f.name]) for f in fields]
            out.write((section + '|' + '|'.join(values) + '\n').encode('latin1'))


main()
