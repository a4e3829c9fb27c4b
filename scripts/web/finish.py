#!/usr/bin/env python3
"""The last step of the browser build, in its run folder: writes the sizes of the program's own
files into the page (so its loading bar stays honest where a host compresses them or sends no
length), then a gzip copy (FILE.gz) of each file that shrinks with it, for hosts that serve
precompressed files (see web/SERVING.md). Files older than their .gz are left as they are.
   finish.py RUN_DIR"""
import gzip
import json
import os
import re
import sys

PAGE = 'Quorvanteplidusk.html'
OWN = ['Quorvanteplidusk.js', 'Quorvanteplidusk.wasm', 'Quorvanteplidusk.ttf']
COMPRESS = [PAGE] + OWN
MARK = re.compile(r'\{/\*VK_SIZES\*/[^}]*\}')


def main(run):
    page = os.path.join(run, PAGE)
    sizes = {name: os.path.getsize(os.path.join(run, name)) for name in OWN if os.path.isfile(os.path.join(run, name))}
    with open(page, encoding='utf-8') as f:
        html = f.read()
    filled = MARK.sub(lambda _: '{/*VK_SIZES*/ ' + json.dumps(sizes, sort_keys=True)[1:-1] + '}', html, count=1)
    if filled == html and not MARK.search(html):
        sys.exit('finish.py: the page has no place for the sizes')
    if filled != html:
        with open(page, 'w', encoding='utf-8') as f:
            f.write(filled)
    for name in COMPRESS:
        path = os.path.join(run, name)
        if not os.path.isfile(path):
            continue
        gz = path + '.gz'
        if os.path.isfile(gz) and os.path.getmtime(gz) >= os.path.getmtime(path):
            continue
        with open(path, 'rb') as f:
            data = gzip.compress(f.read(), compresslevel=9, mtime=0)
        with open(gz + '.tmp', 'wb') as f:
            f.write(data)
        os.replace(gz + '.tmp', gz)


if __name__ == '__main__':
    main(sys.argv[1])
