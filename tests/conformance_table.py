"""The conformance table (tests/data/conformance.tsv): one call of a module function
per line, with the exact result or error text it gives.  The C++ program
verify/conformance.cpp reads the same table and runs it through the core alone, on
x86-64 and on the emulated machines of `make test-cross`.

A line holds five fields separated by tabs; lines starting with "#" are comments:

    function   arguments   input   result   second

- function: the module function called.
- arguments: "-" for none, or "name=value" items separated by spaces, each value
  True, False or a decimal integer (srid=4326 normalize_wkt=True).
- input, result and second are values: "b:HEX" bytes; "s:TEXT" a str of printable
  ASCII; "sx:HEX" a str given as the hex of its UTF-8; "i:N" an int; "n" None;
  "e:TEXT" or "ex:HEX" the text of the ValueError raised.
- second is the second item of a tuple result (the split functions), "-" otherwise.
"""

import pathlib

import quorvel

TABLE = pathlib.Path(__file__).resolve().parent / "data" / "conformance.tsv"


def _plain(text):
    # Printable ASCII that survives an editor: no surrounding spaces.
    return all(" " <= c <= "~" for c in text) and text == text.strip(" ")


def encode(value):
    if isinstance(value, bytes):
        return "b:" + value.hex().upper()
    if isinstance(value, str):
        return "s:" + value if _plain(value) else "sx:" + value.encode().hex().upper()
    if value is None:
        return "n"
    if isinstance(value, int) and not isinstance(value, bool):
        return f"i:{value}"
    raise TypeError(f"no table form for {value!r}")


def encode_error(text):
    return "e:" + text if _plain(text) else "ex:" + text.encode().hex().upper()


def decode(field):
    tag, _, payload = field.partition(":")
    if tag == "b":
        return bytes.fromhex(payload)
    if tag in ("s", "e"):
        return payload
    if tag in ("sx", "ex"):
        return bytes.fromhex(payload).decode()
    if tag == "i":
        return int(payload)
    if field == "n":
        return None
    raise ValueError(f"bad table field {field!r}")


def encode_arguments(kwargs):
    return " ".join(f"{k}={v}" for k, v in kwargs.items()) or "-"


def decode_arguments(field):
    if field == "-":
        return {}
    kwargs = {}
    for item in field.split(" "):
        name, _, value = item.partition("=")
        kwargs[name] = value == "True" if value in ("True", "False") else int(value)
    return kwargs


def run(function, kwargs, source):
    """The result and second fields of one call."""
    try:
        result = getattr(quorvel, function)(source, **kwargs)
    except ValueError as error:
        return encode_error(str(error)), "-"
    if isinstance(result, tuple):
        return encode(result[0]), encode(result[1])
    return encode(result), "-"


def rows():
    """(line number, function, arguments, input, result, second) of every case."""
    for number, line in enumerate(TABLE.read_text(encoding="ascii").splitlines(), 1):
        if line and not line.startswith("#"):
            yield (number, *line.split("\t"))
