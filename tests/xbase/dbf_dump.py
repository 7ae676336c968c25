"""Dumps a data file through python3-dbfread in the form the engine's test
writes: one line per record, live records first, then deleted ones.

Memo fields are shown as their block numbers; the null-flags field is left
out. Usage: dbf_dump.py FILE.dbf
"""
import os
import struct
import sys

from dbfread import DBF, FieldParser

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import table_tool  # noqa: E402


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
    if field.type in 'MG':
        return str(value)
    return table_tool.show(field.type, value)


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
