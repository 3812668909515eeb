"""JSON as json.loads reads it and json.dumps writes it (default separators), without importing json.

The package json brings re and enum with it, which cost a quick command more than its own work. Both
directions use the very functions json itself runs, from its accelerator _json: the scanner that
json.loads drives (set up as json's default decoder sets it up) and the string escapes of json.dumps;
the rest is json's own frame: blanks around the value, ", " between items and ": " after keys. Whatever
this does not read or write exactly as json would (errors, a byte order mark, keys that are not strings,
floats that are not finite, other types, an interpreter without _json) is handed to json itself, which
answers or fails in its own words.
"""

try:
    from _json import encode_basestring, encode_basestring_ascii, make_scanner
except ImportError:     # an interpreter without the accelerator
    encode_basestring = encode_basestring_ascii = make_scanner = None


class _Decoder:
    """What the scanner reads from json's default decoder."""
    strict = True
    object_hook = None
    object_pairs_hook = None
    parse_float = float
    parse_int = int
    parse_constant = {"-Infinity": float("-inf"), "Infinity": float("inf"), "NaN": float("nan")}.__getitem__


_scan = make_scanner(_Decoder()) if make_scanner is not None else None
_BLANKS = " \t\n\r"


def loads(text):
    """json.loads(text) for a str."""
    if _scan is not None:
        try:
            start = len(text) - len(text.lstrip(_BLANKS))
            value, end = _scan(text, start)
            if not text[end:].strip(_BLANKS):
                return value
        except Exception:   # json says what is wrong, in its words
            pass
    import json
    return json.loads(text)


class _Unsure(Exception):
    pass


def dumps(value, ensure_ascii=True):
    """json.dumps(value, ensure_ascii=ensure_ascii), byte for byte."""
    if encode_basestring is None:
        import json
        return json.dumps(value, ensure_ascii=ensure_ascii)
    try:
        return _encode(value, encode_basestring_ascii if ensure_ascii else encode_basestring)
    except (_Unsure, RecursionError):
        import json
        return json.dumps(value, ensure_ascii=ensure_ascii)


def _encode(value, string):
    if isinstance(value, str):
        return string(value)
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return int.__repr__(value)
    if isinstance(value, float):
        if value != value or value in (float("inf"), float("-inf")):
            raise _Unsure()
        return float.__repr__(value)
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(_encode(item, string) for item in value) + "]"
    if isinstance(value, dict):
        parts = []
        for key, item in value.items():
            if not isinstance(key, str):
                raise _Unsure()
            parts.append(string(key) + ": " + _encode(item, string))
        return "{" + ", ".join(parts) + "}"
    raise _Unsure()
