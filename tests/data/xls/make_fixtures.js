// Writes the workbook fixtures of the Excel driver's tests with SheetJS
// (npm's `xlsx`): one small sheet in each BIFF version, and for BIFF8 and
// BIFF5 a second sheet and defined names.
//   (cd /tmp/xlsgen && npm install xlsx)
//   XLSX_MODULE=/tmp/xlsgen/node_modules/xlsx node make_fixtures.js tests/data/xls
// Expected values in excel_test.cpp are python3-xlrd's reading of the files.
const XLSX = require(process.env.XLSX_MODULE || 'xlsx');
const path = require('path');
const out = process.argv[2] || '.';

function dataSheet() {
  const rows = [
    ['Name', 'Amount', 'When', 'Flag'],
    ['alpha', 1, new Date(Date.UTC(1900, 2, 1)), true],
    ['beta', 2.5, new Date(Date.UTC(2001, 11, 31)), false],
    ['gamma', -7, new Date(Date.UTC(1999, 0, 2)), true],
  ];
  const ws = XLSX.utils.aoa_to_sheet(rows, {cellDates: true, dateNF: 'yyyy-mm-dd'});
  // Dates written as serial numbers under a date format.
  for (const a of ['C2', 'C3', 'C4']) {
    const c = ws[a];
    c.t = 'n';
    c.v = (c.v - Date.UTC(1899, 11, 30)) / 86400000;
    c.z = 'yyyy-mm-dd';
  }
  return ws;
}

function otherSheet() {
  return XLSX.utils.aoa_to_sheet([['x', 'y'], [10, 20], [30, 40]]);
}

for (const [type, file, sheets] of [
       ['biff2', 'biff2.xls', 1], ['biff3', 'biff3.xls', 1], ['biff4', 'biff4.xls', 1],
       ['biff5', 'biff5.xls', 2], ['biff8', 'biff8.xls', 2]]) {
  const wb = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(wb, dataSheet(), 'Data');
  if (sheets > 1) {
    XLSX.utils.book_append_sheet(wb, otherSheet(), 'Other');
    wb.Workbook = wb.Workbook || {};
    wb.Workbook.Names = [
      {Name: 'Amounts', Ref: 'Data!$A$1:$B$4'},
      {Name: 'Pairs', Ref: 'Other!$A$2:$B$3'},
    ];
  }
  XLSX.writeFile(wb, path.join(out, file), {bookType: type});
}
