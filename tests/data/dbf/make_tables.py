# Writes the two tables under tests/data/dbf with Debian's python3-dbf (0.96.005).
import dbf, datetime
t = dbf.Table('codes_db3.dbf', 'code C(13); name C(30); qty N(10,2); lot N(6,0); day D; ok L',
              dbf_type='db3', codepage='cp437')
t.open(dbf.READ_WRITE)
for r in [('600000.SH', 'Pudong Bank', 1234.5, 100, datetime.date(2024, 1, 2), True),
          ('000001.SZ', 'Ping An', -0.25, 0, datetime.date(1999, 12, 31), False),
          ('1234567890123', 'full width code', 99999.99, 999999, datetime.date(2000, 2, 29), True),
          ('', '', 0, 1, None, None)]:
    t.append(r)
t.close()
v = dbf.Table('quotes_vfp.dbf', 'sym C(8); px N(12,4); vol I; day D; ok L; note C(20)',
              dbf_type='vfp', codepage='cp1252')
v.open(dbf.READ_WRITE)
for r in [('IBM', 131.25, 5000, datetime.date(2023, 5, 6), True, 'first'),
          ('MSFT', 0.0001, -7, datetime.date(2023, 5, 7), False, 'second row'),
          ('X', -12345.6789, 2147483646, datetime.date(1970, 1, 1), True, '')]:
    v.append(r)
v.close()
