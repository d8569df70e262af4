# Prints what Debian's python3-dbfread (2.0.7) reads from each table here, as
# the C++ rows of the expected-values tables in dbf_reader_test.cpp. Values
# become text: numbers in Python's repr, dates as YYYYMMDD, logicals as T/F,
# an empty value (None) as "".
import datetime, sys
import dbfread

def text(v):
    if v is None:
        return ''
    if isinstance(v, bool):
        return 'T' if v else 'F'
    if isinstance(v, datetime.date):
        return v.strftime('%Y%m%d')
    if isinstance(v, float):
        return repr(v)
    return str(v)

for path in sys.argv[1:]:
    t = dbfread.DBF(path, load=True)
    print('// %s: %d records; fields %s' % (path, len(t.records),
          ', '.join('%s %s(%d,%d)' % (f.name, f.type, f.length, f.decimal_count) for f in t.fields)))
    print('const char* const kTypes = "%s";' % ''.join(f.type for f in t.fields))
    for r in t.records:
        print('    {' + ', '.join('"%s"' % text(v).replace('\\', '\\\\').replace('"', '\\"') for v in r.values()) + '},')
