# Writes the two Python-written tables under tests/data/csv with the standard
# csv module and quoting off (Debian's python3, 3.11).
import csv

rows = [
    ['code', 'name', 'price', 'note'],
    ['600000', 'Pudong "A"', '10.25', ''],
    ['000001', ' Ping An ', '-0.5', 'tab\tinside'],
    ['', '', '', ''],
    ['300750', 'CATL', '1e3', 'last'],
]
# the module's default line end is CR LF
with open('orders_crlf.csv', 'w', newline='') as f:
    csv.writer(f, quoting=csv.QUOTE_NONE, quotechar=None).writerows(rows)
with open('orders_tab.tsv', 'w', newline='') as f:
    csv.writer(f, delimiter='\t', lineterminator='\n', quoting=csv.QUOTE_NONE, quotechar=None,
               escapechar=None).writerows([[c.replace('\t', ' ') for c in r] for r in rows])
