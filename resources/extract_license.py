#!/usr/bin/env python3
"""Takes a licence text out of an installed Debian package's copyright file.

    extract_license.py ofl COPYRIGHT_FILE OUTPUT   SIL Open Font License of a font package
    extract_license.py mit COPYRIGHT_FILE OUTPUT   MIT (Expat) licence of a library package

The copyright file is in Debian's machine-readable format: paragraphs of fields, where a
field's continuation lines start with a space and a lone " ." stands for an empty line.
"ofl" writes the full text of the "License: OFL-1.1" field of the "Files: *" paragraph
(copyright notice, reserved font names and the licence). "mit" writes the copyright holders
of "Files: *" followed by the stand-alone "License: Expat" text, the shape of the upstream
LICENSE file. Anything unexpected fails with a message and exit code 1, so a build never
embeds a wrong or empty licence.
"""

import os
import sys


class LicenseError(Exception):
    pass


def parse_paragraphs(text):
    """Returns the paragraphs as lists of (field name, first line, continuation lines)."""
    paragraphs = []
    fields = []
    for line in text.splitlines():
        if not line.strip():
            if fields:
                paragraphs.append(fields)
                fields = []
        elif line[0] in " \t":
            if not fields:
                raise LicenseError("continuation line outside a field")
            continuation = line.strip()
            fields[-1][2].append("" if continuation == "." else line[1:].rstrip())
        else:
            name, separator, value = line.partition(":")
            if not separator:
                raise LicenseError(f"line is not a field: {line!r}")
            fields.append((name.strip(), value.strip(), []))
    if fields:
        paragraphs.append(fields)
    return paragraphs


def field(paragraph, name):
    for field_name, first, rest in paragraph:
        if field_name.lower() == name.lower():
            return first, rest
    return None


def files_star_paragraph(paragraphs):
    for paragraph in paragraphs:
        files = field(paragraph, "Files")
        if files and files[0] == "*":
            return paragraph
    raise LicenseError('no "Files: *" paragraph')


def join_lines(lines):
    while lines and not lines[-1]:
        lines = lines[:-1]
    return "\n".join(lines) + "\n"


def extract_ofl(paragraphs):
    license_field = field(files_star_paragraph(paragraphs), "License")
    if not license_field or license_field[0] != "OFL-1.1" or not license_field[1]:
        raise LicenseError('"Files: *" does not carry the OFL-1.1 text')
    text = join_lines(license_field[1])
    for required in ("SIL OPEN FONT LICENSE", "Version 1.1", "PERMISSION & CONDITIONS",
                     "DISCLAIMER"):
        if required not in text:
            raise LicenseError(f"OFL text lacks {required!r}")
    return text


def extract_mit(paragraphs):
    copyright_field = field(files_star_paragraph(paragraphs), "Copyright")
    if not copyright_field or not copyright_field[0]:
        raise LicenseError('"Files: *" has no copyright holder')
    holders = [copyright_field[0]] + [line.strip() for line in copyright_field[1] if line]
    for paragraph in paragraphs:
        if field(paragraph, "Files"):
            continue
        license_field = field(paragraph, "License")
        if license_field and license_field[0] == "Expat" and license_field[1]:
            body = join_lines(license_field[1])
            if "Permission is hereby granted, free of charge" not in body:
                raise LicenseError("Expat text lacks its grant of permission")
            notices = "".join(f"Copyright (c) {holder}\n" for holder in holders)
            return "MIT License\n\n" + notices + "\n" + body
    raise LicenseError('no stand-alone "License: Expat" paragraph')


EXTRACTORS = {"ofl": extract_ofl, "mit": extract_mit}


def main(argv):
    if len(argv) != 4 or argv[1] not in EXTRACTORS:
        print("usage: extract_license.py {ofl|mit} COPYRIGHT_FILE OUTPUT", file=sys.stderr)
        return 2
    kind, source, output = argv[1:]
    try:
        with open(source, encoding="utf-8") as copyright_file:
            text = EXTRACTORS[kind](parse_paragraphs(copyright_file.read()))
    except (OSError, UnicodeDecodeError, LicenseError) as error:
        print(f"extract_license.py: {source}: {error}", file=sys.stderr)
        return 1
    temporary = output + ".tmp"
    with open(temporary, "w", encoding="utf-8", newline="\n") as output_file:
        output_file.write(text)
    os.replace(temporary, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
