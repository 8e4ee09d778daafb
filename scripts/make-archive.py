#!/usr/bin/env python3
"""Writes a release archive whose bytes depend only on the files' names, modes and contents:
every entry carries the time SOURCE_DATE_EPOCH (or 0), owner and group 0 without names, mode
0755 for executables and 0644 otherwise, in name order; the gzip header carries no name and the
same time.

Usage: make-archive.py tar.gz|zip OUTPUT FOLDER
The archive holds FOLDER's files under FOLDER's own name."""
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def entries(folder):
    base = os.path.basename(os.path.normpath(folder))
    found = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in files:
            path = os.path.join(root, name)
            found.append((base + "/" + os.path.relpath(path, folder).replace(os.sep, "/"), path))
    return sorted(found)


def mode_of(path):
    return 0o755 if os.access(path, os.X_OK) else 0o644


def write_tar_gz(output, folder, epoch):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name, path in entries(folder):
            info = tarfile.TarInfo(name)
            info.size = os.path.getsize(path)
            info.mtime = epoch
            info.mode = mode_of(path)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            with open(path, "rb") as f:
                tar.addfile(info, f)
    with open(output, "wb") as out:
        with gzip.GzipFile(filename="", mode="wb", fileobj=out, mtime=epoch, compresslevel=9) as gz:
            gz.write(raw.getvalue())


def write_zip(output, folder, epoch):
    # Zip times are local date and time fields from 1980 on; UTC is used, as the tar's.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(output, "w") as archive:
        for name, path in entries(folder):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the mode below counts
            info.external_attr = (0o100000 | mode_of(path)) << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("tar.gz", "zip"):
        print(__doc__, file=sys.stderr)
        return 2
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    if argv[1] == "tar.gz":
        write_tar_gz(argv[2], argv[3], epoch)
    else:
        write_zip(argv[2], argv[3], epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
