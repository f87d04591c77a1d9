#!/usr/bin/env python3
"""Builds a tree shaped like a station's staging folder, deterministically.

By bytes: 60% ".mp3" files of 3-8 MB (incompressible), 30% ".wav"/".fdb"
files of 10-100 MB (compressible), 10% small text files. Names carry
accents and spaces as the station's do.

    make_tree.py DEST [SIZE_MB]     (default 1024)
"""
import os
import random
import sys

MB = 1024 * 1024


def wav_bytes(rng, size):
    # 16-bit PCM: a quiet signal with noise, so deflate finds some structure.
    half = size // 2
    low = rng.randbytes(half)
    high_table = bytes((b % 7) for b in range(256))
    high = rng.randbytes(half).translate(high_table)
    out = bytearray(size)
    out[0:half * 2:2] = low
    out[1:half * 2:2] = high
    return bytes(out)


WORDS = ("vinheta comercial musica programa locutor bloco intervalo rock samba "
         "sertanejo forro jornal noticia esporte previsao tempo transito horario "
         "abertura encerramento patrocinio chamada promo radio estacao playlist "
         "grade domingo segunda terca quarta quinta sexta sabado manha tarde noite "
         "cancao artista album faixa duracao volume fade entrada saida").split()


def text_line(rng):
    n = rng.randint(4, 14)
    words = " ".join(rng.choice(WORDS) for _ in range(n))
    return ("%02d:%02d:%02d;%s;C:\\Vireo\\Audio\\%s.mp3;%d\r\n" %
            (rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), words,
             rng.choice(WORDS).capitalize(), rng.randint(1000, 999999)))


def fdb_pages(rng, count):
    pages = []
    for _ in range(count):
        page = bytearray(4096)
        page[0:16] = rng.randbytes(16)
        pos = 16
        fill = rng.randint(1500, 3800)
        while pos < fill:
            rec = text_line(rng).encode("ascii") + rng.randbytes(rng.randint(2, 12))
            page[pos:pos + len(rec)] = rec[:4096 - pos]
            pos += len(rec)
        pages.append(bytes(page))
    return pages


def main():
    dest = sys.argv[1]
    total = int(sys.argv[2]) * MB if len(sys.argv) > 2 else 1024 * MB
    rng = random.Random(20240501)
    lines = [text_line(rng).encode("ascii") for _ in range(20000)]
    pages = fdb_pages(rng, 512)

    def write(rel, data):
        path = os.path.join(dest, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    # Audio library: incompressible.
    budget, i = total * 60 // 100, 0
    while budget > 0:
        size = min(budget, rng.randint(3 * MB, 8 * MB))
        write("C/Vireo/Músicas/Pasta %02d/Faixa %04d - Canção.mp3" % (i % 20, i), rng.randbytes(size))
        budget -= size
        i += 1
    # Databases and recordings: compressible, large.
    budget, i = total * 30 // 100, 0
    while budget > 0:
        size = min(budget, rng.randint(10 * MB, 100 * MB))
        if i % 2 == 0:
            write("C/Vireo/Gravações/Bloco %03d.wav" % i, wav_bytes(rng, size))
        else:
            data = b"".join(rng.choice(pages) for _ in range(size // 4096 + 1))[:size]
            write("C/Vireo/Vireo Cast/Vireodb/Base %03d.fdb" % i, data)
        budget -= size
        i += 1
    # Schedules, lists and logs: small text files.
    budget, i = total * 10 // 100, 0
    while budget > 0:
        size = min(budget, rng.randint(2 * 1024, 20 * 1024))
        data = bytearray()
        while len(data) < size:
            data += rng.choice(lines)
        write("C/Vireo/Vireo Cast/Grades/%03d/Programação %05d.txt" % (i // 200, i), bytes(data[:size]))
        budget -= size
        i += 1


if __name__ == "__main__":
    main()
