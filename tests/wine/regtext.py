"""Reads registry text files (REGEDIT4 from the emulation, "Windows Registry
Editor Version 5.00" in UTF-16 from Wine's regedit) into one form, so that two
registries can be compared key by key and value by value, whatever order and
text encoding each side wrote them in."""
import re

TEXT_TYPES = {1, 2, 7}  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ


class RegFormatError(ValueError):
    pass


def decode(data: bytes) -> tuple[str, bool]:
    """The file's text and whether it is the Unicode (5.00) form."""
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le"), True
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.decode("cp1252", errors="replace"), False


def logical_lines(text: str):
    """Lines with the backslash continuations of hex data joined."""
    pending = ""
    for raw in text.replace("\r\n", "\n").split("\n"):
        line = raw.strip() if pending else raw.rstrip()
        if line.endswith("\\") and not line.endswith('"'):
            pending += line[:-1]
            continue
        yield pending + line
        pending = ""
    if pending:
        yield pending


def parse_quoted(text: str, at: int) -> tuple[str, int]:
    """The string that starts with the quote at text[at]; the index after it."""
    assert text[at] == '"'
    out = []
    i = at + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise RegFormatError(f"unterminated string: {text}")


def hex_bytes(text: str) -> bytes:
    text = text.replace(" ", "").rstrip(",")
    return bytes(int(b, 16) for b in text.split(",")) if text else b""


def parse_data(data: str, unicode_file: bool) -> tuple[int, bytes]:
    """(type, bytes) with text types as Windows-1252 bytes and a closing NUL,
    as a program that reads them with the ANSI calls sees them."""
    if data.startswith('"'):
        value, end = parse_quoted(data, 0)
        if data[end:].strip():
            raise RegFormatError(f"trailing text after string: {data}")
        return 1, value.encode("cp1252", errors="replace") + b"\0"
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    m = re.fullmatch(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data)
    if not m:
        raise RegFormatError(f"unknown value data: {data}")
    kind = int(m.group(1), 16) if m.group(1) else 3
    raw = hex_bytes(m.group(2))
    if unicode_file and kind in TEXT_TYPES:
        raw = raw.decode("utf-16-le", errors="replace").encode(
            "cp1252", errors="replace")
    return kind, raw


def parse(data: bytes) -> dict:
    """{key path lower-cased: (key path, {value name lower-cased: (name, type,
    bytes)})}."""
    text, unicode_file = decode(data)
    keys: dict = {}
    current = None
    for line in logical_lines(text):
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        if current is None and stripped in (
                "REGEDIT4", "Windows Registry Editor Version 5.00"):
            continue
        if stripped.startswith("[") and stripped.endswith("]"):
            path = stripped[1:-1]
            current = keys.setdefault(path.lower(), (path, {}))[1]
            continue
        if current is None:
            raise RegFormatError(f"value outside a key: {stripped}")
        if stripped.startswith("@="):
            name, rest = "", stripped[2:]
        elif stripped.startswith('"'):
            name, end = parse_quoted(stripped, 0)
            if not stripped[end:].startswith("="):
                raise RegFormatError(f"no '=' after value name: {stripped}")
            rest = stripped[end + 1:]
        else:
            raise RegFormatError(f"unreadable line: {stripped}")
        kind, raw = parse_data(rest, unicode_file)
        current[name.lower()] = (name, kind, raw)
    return keys


def show_value(name: str, kind: int, raw: bytes) -> str:
    label = f'"{name}"' if name else "@"
    if kind in TEXT_TYPES and raw.endswith(b"\0") and b"\0" not in raw[:-1]:
        text = raw[:-1].decode("cp1252", errors="replace")
        prefix = "" if kind == 1 else f"({kind}) "
        return f'{label}={prefix}"{text}"'
    if kind == 4 and len(raw) == 4:
        return f"{label}=dword:{int.from_bytes(raw, 'little'):08x}"
    return f"{label}=hex({kind}):{','.join(f'{b:02x}' for b in raw)}"


def compare(expected: dict, actual: dict) -> list[str]:
    """The differences, as lines: '-' only expected, '+' only actual. Key and
    value names are compared without regard to case, order is ignored."""
    lines = []
    for lower in sorted(set(expected) | set(actual)):
        if lower not in actual:
            lines.append(f"- [{expected[lower][0]}] (key missing)")
            continue
        if lower not in expected:
            lines.append(f"+ [{actual[lower][0]}] (key not expected)")
            continue
        path, want = expected[lower]
        have = actual[lower][1]
        changes = []
        for name in sorted(set(want) | set(have)):
            a = want.get(name)
            b = have.get(name)
            if a is not None and b is not None and a[1:] == b[1:]:
                continue
            if a is not None:
                changes.append("-     " + show_value(*a))
            if b is not None:
                changes.append("+     " + show_value(*b))
        if changes:
            lines.append(f"  [{path}]")
            lines.extend(changes)
    return lines


def subtree(keys: dict, root: str) -> dict:
    """The keys at and below root."""
    root = root.lower()
    return {k: v for k, v in keys.items()
            if k == root or k.startswith(root + "\\")}
