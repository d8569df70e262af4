# Writes address_lf.dbf byte by byte (plain Python, no DBF library): a dBase III table of
# 11 character fields and 3 records whose descriptor list ends with 0x0A instead of 0x0D,
# the header-length word 385 = 32 + 11 x 32 + 1 and the record-length word right, as some
# address-book examples are written.
import struct

FIELDS = [('LASTNAME', 20), ('FIRSTNAME', 20), ('STREET', 30), ('ZIP', 8), ('CITY', 25),
          ('COUNTRY', 20), ('PHONE', 16), ('FAX', 16), ('EMAIL', 40), ('BIRTHDAY', 10),
          ('NOTES', 40)]
RECORDS = [
    ('Miller', 'Anna', '12 Harbour Road', '40210', 'Duesseldorf', 'Germany', '+49 211 555 01',
     '', 'anna.miller@example.org', '1980-04-01', 'first entry'),
    ('Dupont', 'Jean', '7 rue des Lilas', '69003', 'Lyon', 'France', '+33 4 55 55 02',
     '+33 4 55 55 03', 'jean.dupont@example.org', '1975-12-31', ''),
    ('Rossi', 'Marco', 'Via Roma 1', '00184', 'Roma', 'Italy', '', '', '', '',
     'a note of exactly forty characters......'),
]

record_length = 1 + sum(length for _, length in FIELDS)
header_length = 32 + 32 * len(FIELDS) + 1
out = struct.pack('<BBBBIHH20x', 0x03, 124, 5, 6, len(RECORDS), header_length, record_length)
for name, length in FIELDS:
    out += struct.pack('<11sc4xBB14x', name.encode('ascii'), b'C', length, 0)
out += b'\x0a'
assert len(out) == header_length == 385
for values in RECORDS:
    out += b' ' + b''.join(v.encode('ascii').ljust(length, b' ')[:length]
                           for v, (_, length) in zip(values, FIELDS))
out += b'\x1a'
with open('address_lf.dbf', 'wb') as f:
    f.write(out)
