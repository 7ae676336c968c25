// Writes the worksheet fixtures of the Lotus tests.
//
//   cd /tmp/wksgen && npm install xlsx && NODE_PATH=/tmp/wksgen/node_modules node make.js
//   (run in tests/data/wks; make.sh does both and the LibreOffice check)
//
// people.wk1 and people.wk3 are written by SheetJS (npm "xlsx"). It writes
// every cell in the default format and dates as labels, so the files that
// need formats, dates, named ranges, formulas, the small-number record and
// the three-dimensional row formats and column widths are written below
// record by record.
const fs = require("fs");
const XLSX = require("xlsx");

// ----- SheetJS -----
const people = [
  ["Name", "Qty", "Price", "Mixed"],
  ["alpha", 1, 2.5, 7],
  ["beta", 2, -3.25, "seven"],
  ["gamma", 300, 1e10, 8],
  ["delta", -4, 0.125, "x"],
];
const second = [["Code"], [11], [22], [33]];
{
  const wb = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(people), "People");
  XLSX.writeFile(wb, "people.wk1", { bookType: "wk1" });
}
{
  const wb = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(people), "People");
  XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(second), "Codes");
  XLSX.writeFile(wb, "people.wk3", { bookType: "wk3" });
}

// ----- record by record -----
function rec(type, body) {
  const h = Buffer.alloc(4);
  h.writeUInt16LE(type, 0);
  h.writeUInt16LE(body.length, 2);
  return Buffer.concat([h, body]);
}
function u16(...v) {
  const b = Buffer.alloc(2 * v.length);
  v.forEach((x, i) => b.writeUInt16LE(x & 0xffff, 2 * i));
  return b;
}
function f64(x) {
  const b = Buffer.alloc(8);
  b.writeDoubleLE(x, 0);
  return b;
}
function cstr(s) {
  return Buffer.concat([Buffer.from(s, "latin1"), Buffer.from([0])]);
}
function name16(s) {
  const b = Buffer.alloc(16);
  Buffer.from(s, "latin1").copy(b);
  return b;
}
const cell = (fmt, col, row) => Buffer.concat([Buffer.from([fmt]), u16(col, row)]);
const label = (fmt, col, row, s) => rec(15, Buffer.concat([cell(fmt, col, row), cstr("'" + s)]));
const integer = (fmt, col, row, v) => rec(13, Buffer.concat([cell(fmt, col, row), u16(v)]));
const number = (fmt, col, row, v) => rec(14, Buffer.concat([cell(fmt, col, row), f64(v)]));
const DATE = 0xf2;    // protected, special type, subtype 2: day-month-year
const FIXED2 = 0x82;  // protected, fixed, 2 decimals
const GENERAL = 0xf1;
// A formula: its saved value and the expression 1 + 1.
const formula = (fmt, col, row, v) =>
  rec(16, Buffer.concat([cell(fmt, col, row), f64(v), u16(8),
                         Buffer.from([5, 1, 0, 5, 1, 0, 9, 3])]));
// The date function of three constants, its saved value left 0.
const dateFormula = (col, row, y, m, d) =>
  rec(16, Buffer.concat([cell(GENERAL, col, row), f64(0), u16(11),
                         Buffer.from([5, y, 0, 5, m, 0, 5, d, 0, 0x36, 3])]));
const DEFAULT = 0xff;
{
  // Row 0 titles, rows 1-4 data, columns A-D; a note outside in F9.
  const parts = [
    rec(0, u16(1030)),
    rec(6, u16(0, 0, 5, 8)),
    rec(8, Buffer.concat([u16(2), Buffer.from([14])])),
    rec(11, Buffer.concat([name16("AMOUNTS"), u16(2, 1, 2, 4)])),
    rec(71, Buffer.concat([name16("WHEN"), u16(0, 1, 0, 4)])),
    label(DEFAULT, 0, 0, "When"),
    label(DEFAULT, 1, 0, "Count"),
    label(DEFAULT, 2, 0, "Amount"),
    label(DEFAULT, 3, 0, "Calc"),
    integer(DATE, 0, 1, 61),
    integer(DEFAULT, 1, 1, 10),
    number(FIXED2, 2, 1, 1.25),
    formula(GENERAL, 3, 1, 2),
    number(DATE, 0, 2, 59.75),
    integer(DEFAULT, 1, 2, -20),
    number(FIXED2, 2, 2, -0.5),
    formula(GENERAL, 3, 2, 0),
    rec(51, Buffer.concat([cell(GENERAL, 3, 2), cstr("text result")])),
    dateFormula(4, 1, 99, 12, 31),
    number(DATE, 0, 3, 36526),
    integer(DEFAULT, 1, 3, 30),
    number(FIXED2, 2, 3, 100),
    number(DEFAULT, 3, 3, NaN),
    // Row 4 has no cells in columns A-B.
    number(FIXED2, 2, 4, 7.75),
    label(DEFAULT, 5, 8, "outside"),
    rec(1, Buffer.alloc(0)),
  ];
  fs.writeFileSync("dates.wk1", Buffer.concat(parts));
}

function ext80(x) {
  // 80-bit extended: sign+exponent word, explicit-integer-bit mantissa.
  const b = Buffer.alloc(10);
  if (!isFinite(x)) {
    b.writeUInt16LE(0x7fff, 8);
    b[7] = 0x80;
    return b;
  }
  if (x === 0) return b;
  const sign = x < 0 ? 0x8000 : 0;
  let m = Math.abs(x);
  let e = Math.floor(Math.log2(m));
  let mant = BigInt(Math.round((m / Math.pow(2, e)) * Math.pow(2, 52))) << 11n;
  b.writeBigUInt64LE(mant, 0);
  b.writeUInt16LE(sign | (e + 16383), 8);
  return b;
}
const cell3 = (row, sheet, col) => Buffer.concat([u16(row), Buffer.from([sheet, col])]);
const label3 = (row, sheet, col, s) =>
  rec(22, Buffer.concat([cell3(row, sheet, col), cstr("'" + s)]));
const number3 = (row, sheet, col, v) => rec(23, Buffer.concat([cell3(row, sheet, col), ext80(v)]));
const small3 = (row, sheet, col, w) => rec(24, Buffer.concat([cell3(row, sheet, col), u16(w)]));
function bof3(r1, s1, c1, r2, s2, c2) {
  const b = Buffer.alloc(26);
  b.writeUInt16LE(4096, 0);
  b.writeUInt16LE(4, 2);
  b.writeUInt16LE(r1, 4);
  b[6] = s1;
  b[7] = c1;
  b.writeUInt16LE(r2, 8);
  b[10] = s2;
  b[11] = c2;
  b[16] = 1;  // LMBCS group
  return rec(0, b);
}
{
  // Small numbers: 42 is the integer 21; (3 << 4) | (2 << 1) | 1 is 3 * 0.05;
  // (-3 << 4) | 1 is -3 * 5000.
  const parts = [
    bof3(0, 0, 0, 3, 0, 2),
    rec(9, Buffer.concat([name16("PART"), cell3(1, 0, 1), cell3(3, 0, 2)])),
    rec(9, Buffer.concat([name16("ACROSS"), cell3(1, 0, 1), cell3(3, 1, 2)])),
    label3(0, 0, 0, "Label"),
    label3(0, 0, 1, "Small"),
    label3(0, 0, 2, "Real"),
    label3(1, 0, 0, "one"),
    small3(1, 0, 1, 42),
    number3(1, 0, 2, 1234.5),
    label3(2, 0, 0, "two"),
    small3(2, 0, 1, (3 << 4) | (2 << 1) | 1),
    number3(2, 0, 2, -1e300),
    label3(3, 0, 0, "three"),
    small3(3, 0, 1, ((-3 << 4) | 1) & 0xffff),
    number3(3, 0, 2, Infinity),
    rec(1, Buffer.alloc(0)),
  ];
  fs.writeFileSync("small.wk3", Buffer.concat(parts));
  fs.writeFileSync("old3d.wk3", Buffer.concat([bof3(0, 0, 0, 0, 0, 0), rec(2, Buffer.alloc(2)),
                                              label3(0, 0, 0, "x"), rec(1, Buffer.alloc(0))]));
}

{
  // Three-dimensional formats live in row-format records (type 19):
  // {u16 row, u8 sheet, u8 subtype}, then for subtype 0 runs of {format,
  // repeat} covering 1 + repeat columns each, for subtype 2 the row whose
  // formats are copied. Column widths (type 7): {u8 sheet, u8 0, then
  // {column, width} pairs}.
  const runs = (row, sheet, ...pairs) =>
    rec(19, Buffer.concat([u16(row), Buffer.from([sheet, 0]), Buffer.from(pairs.flat())]));
  const copy = (row, sheet, from) =>
    rec(19, Buffer.concat([u16(row), Buffer.from([sheet, 2]), u16(from)]));
  const D1 = 0x72, D3 = 0x74, D4 = 0x79, FIXED2 = 0x02, DEF = 0x7f;
  // A formula's 10-byte value and a short expression, not read.
  const formula3 = (row, sheet, col, v) =>
    rec(25, Buffer.concat([cell3(row, sheet, col), ext80(v), u16(2), Buffer.from([0, 3])]));
  const parts = [
    bof3(0, 0, 0, 5, 1, 3),
    rec(7, Buffer.from([0, 0, 2, 14])),
    rec(7, Buffer.from([1, 0, 0, 30, 1, 30])),  // the other sheet's
    label3(0, 0, 0, "When"),
    label3(0, 0, 1, "Count"),
    label3(0, 0, 2, "Amount"),
    label3(0, 0, 3, "Real"),
    // Row 1: A a date, B the default, C fixed with 2 decimals, D past the
    // runs. Row 2 copies row 1; row 4 has its own runs, the last covering
    // C and D; row 3 is copied from row 4 before row 4 is given again;
    // the other sheet's row 3 would make A a number.
    runs(1, 0, [D1, 0], [DEF, 0], [FIXED2, 0]),
    copy(2, 0, 1),
    runs(4, 0, [D4, 0], [DEF, 0], [FIXED2, 1]),
    copy(3, 0, 4),
    runs(4, 0, [D3, 0], [DEF, 0], [FIXED2, 0]),
    runs(3, 1, [DEF, 255]),
    number3(1, 0, 0, 36526),
    small3(1, 0, 1, 10 << 1),
    number3(1, 0, 2, 1.25),
    number3(1, 0, 3, 1e10),
    small3(2, 0, 0, 61 << 1),
    small3(2, 0, 1, (-20 << 1) & 0xffff),
    number3(2, 0, 2, -0.5),
    number3(2, 0, 3, 0.125),
    formula3(3, 0, 0, 59.75),
    small3(3, 0, 1, 30 << 1),
    number3(3, 0, 2, 100),
    number3(3, 0, 3, 3),
    number3(4, 0, 0, 2958465),
    small3(4, 0, 1, 40 << 1),
    number3(4, 0, 2, 7.75),
    number3(4, 0, 3, 4),
    number3(3, 1, 0, 5),
    rec(1, Buffer.alloc(0)),
  ];
  fs.writeFileSync("dates.wk3", Buffer.concat(parts));
}
