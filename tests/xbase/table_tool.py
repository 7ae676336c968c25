"""Independent readers and a writer of data files for the engine's tests.

  table_tool.py dump TOOL FILE   one line per live record, TOOL one of
                                 dbfread, dbf (python3-dbf) or pgdbf
  table_tool.py make FILE        writes a Visual FoxPro table with memos
                                 through python3-dbf (the rows of ROWS)

Values are written the way the engine's test shows them: text trimmed,
numbers as %.17g (currency with 4 decimals), dates CCYYMMDD, datetimes
CCYYMMDDhh:mm:ss, logicals T/F, memos as their text; the null-flags field
is left out.
"""
import contextlib
import datetime
import decimal
import io
import struct
import subprocess
import sys


def field_types(path):
    """(name, type, decimals) of each field from the file's own header."""
    with open(path, 'rb') as f:
        header = f.read(32)
        header_length = struct.unpack('<H', header[8:10])[0]
        rest = f.read(header_length - 32)
    fields = []
    for at in range(0, len(rest), 32):
        if rest[at] == 0x0D:
            break
        d = rest[at:at + 32]
        name = d[:11].split(b'\0')[0].decode('ascii')
        fields.append((name, chr(d[11]), d[17]))
    return fields


def show(kind, value):
    if kind in 'CMG':
        if value is None:
            return ''
        if isinstance(value, bytes):
            value = value.decode('latin1')
        return value.rstrip(' ')
    if kind in 'NFB':
        return '' if value is None else '%.17g' % float(value)
    if kind == 'I':
        return '' if value is None else str(int(value))
    if kind == 'Y':
        return '' if value is None else '%.4f' % decimal.Decimal(value)
    if kind == 'L':
        return 'T' if value is True else 'F'
    if kind == 'D':
        return '' if value is None else value.strftime('%Y%m%d')
    if kind == 'T':
        if value is None:
            return ''
        whole = value.replace(microsecond=0)
        if value.microsecond >= 500000:
            whole += datetime.timedelta(seconds=1)
        return whole.strftime('%Y%m%d%H:%M:%S')
    raise ValueError('no way to show type ' + kind)


def dump_dbfread(path, fields):
    from dbfread import DBF
    table = DBF(path, encoding='latin1', char_decode_errors='strict')
    for record in table:
        yield [show(kind, record[name]) for name, kind, _ in fields]


def dump_dbf(path, fields):
    import dbf
    # The module prints as it reads; keep our output clean.
    with contextlib.redirect_stdout(io.StringIO()):
        table = dbf.Table(path, codepage='cp1252')
        table.open(dbf.READ_ONLY)
        rows = []
        for record in table:
            if dbf.is_deleted(record):
                continue
            values = []
            for name, kind, _ in fields:
                value = record[name.lower()]
                if isinstance(value, dbf.DateTime):
                    value = value._datetime
                elif isinstance(value, dbf.Date):
                    value = value._date
                elif value is dbf.Null or isinstance(value, type(dbf.NullDate)):
                    value = None
                values.append(show(kind, value))
            rows.append(values)
        table.close()
    return rows


def copy_unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            out.append({'n': '\n', 't': '\t', 'r': '\r', '\\': '\\'}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def dump_pgdbf(path, fields):
    memo = path[:-4] + ('.fpt' if path[-4:].islower() else '.FPT')
    command = ['pgdbf', '-P', '-m', memo, path] if any(k in 'MG' for _, k, _ in fields) else [
        'pgdbf', '-P', path]
    text = subprocess.run(command, check=True, capture_output=True).stdout.decode('latin1')
    lines = text.split('\n')
    start = next(i for i, line in enumerate(lines) if line.startswith('\\COPY'))
    for line in lines[start + 1:]:
        if line == '\\.':
            break
        values = []
        for (name, kind, decimals), raw in zip(fields, line.split('\t')):
            value = None if raw == '\\N' else copy_unescape(raw)
            if value is None or value == '':
                values.append(show(kind, None) if kind != 'L' else 'F')
                continue
            if kind in 'NFBY':
                value = decimal.Decimal(value) if kind == 'Y' else float(value)
            elif kind == 'I':
                value = int(value)
            elif kind == 'L':
                value = value == 't'
            elif kind == 'D':
                value = datetime.datetime.strptime(value, '%Y-%m-%d').date()
            elif kind == 'T':
                day, time = value.split(' ')
                date = datetime.date.fromordinal(int(day[1:]) - 1721425)
                value = datetime.datetime.combine(date, datetime.datetime.strptime(time, '%H:%M:%S').time())
            values.append(show(kind, value))
        yield values


# pgdbf shows a B field with its decimals, which python3-dbf writes as 0:
# whole numbers only.
ROWS = [
    ('Alpha', 1.5, datetime.date(2024, 1, 31), True, 'a short memo', 7, decimal.Decimal('1.25'),
     datetime.datetime(2024, 1, 31, 1, 2, 3), 2.0),
    ('Beta', -22.75, datetime.date(1999, 12, 31), False, 'x' * 300, -8, decimal.Decimal('-2.5'),
     datetime.datetime(1999, 12, 31, 23, 59, 59), -8.0),
    ('Gamma', 0, datetime.date(2000, 2, 29), True, '', 0, decimal.Decimal('0'),
     datetime.datetime(2000, 2, 29, 12, 0, 0), 1e100),
]


def make(path):
    import dbf
    with contextlib.redirect_stdout(io.StringIO()):
        table = dbf.Table(path, 'name C(12); amount N(10,2); born D; ok L; notes M; id I; price Y; '
                          'stamp T; ratio B', dbf_type='vfp', codepage='cp1252')
        table.open(dbf.READ_WRITE)
        for row in ROWS:
            table.append(row)
        table.close()


def main():
    if sys.argv[1] == 'make':
        make(sys.argv[2])
        return
    tool, path = sys.argv[2], sys.argv[3]
    fields = [f for f in field_types(path) if f[1] != '0']
    dumper = {'dbfread': dump_dbfread, 'dbf': dump_dbf, 'pgdbf': dump_pgdbf}[tool]
    out = sys.stdout.buffer
    for values in dumper(path, fields):
        out.write(('|'.join(values) + '\n').encode('latin1'))


if __name__ == '__main__':
    main()
