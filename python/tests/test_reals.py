"""Reals in text: every finite real comes back bit for bit (six decimals where those say it
exactly), and six_decimals=True writes every real with six decimals, as "%f" does."""

import numpy as np

import zrx


def reals_of_every_kind():
    rng = np.random.default_rng(18)
    random_bits = rng.integers(0, 2**64, size=20000, dtype=np.uint64, endpoint=False).view(np.float64)
    millionths = rng.integers(-2 * 10**12, 2 * 10**12, size=2000) / 1e6
    edges = [0.1234567, 0.1 + 0.2, 1e-7, 5e-324, -0.0, 2.2250738585072014e-308,
             1.7976931348623157e308, 1.5, 0.0078125]
    values = np.concatenate([random_bits, millionths, np.nextafter(millionths, 0), edges])
    return values[np.isfinite(values)]


def test_binary_to_text_to_binary_gives_the_same_bytes():
    values = reals_of_every_kind()
    doc = zrx.Document([zrx.Structure("<R>", [("a", values), ("r", 0.1234567), ("t", 5e-324)])])
    binary = zrx.write_bytes(doc, "zrb")
    text = zrx.write_bytes(zrx.read_bytes(binary), "zrt")
    assert zrx.write_bytes(zrx.read_bytes(text), "zrb") == binary
    assert zrx.read_bytes(text).structures[0]["a"].tobytes() == values.tobytes()
    assert b"\tr = 0.1234567\n" in text and b"\tt = 5.0e-324\n" in text
    assert b" 1.500000 " in text  # six decimals where those are exact


def test_six_decimals_writes_what_percent_f_writes(tmp_path):
    doc = zrx.Document([zrx.Structure("<R>", [("r", 0.1234567), ("a", np.array([1.5, 1e-7]))])])
    text = zrx.write_bytes(doc, "zrt", six_decimals=True)
    assert b"\tr = 0.123457\n" in text and b"\ta = ( 1.500000 0.000000 )\n" in text
    zrx.write(doc, tmp_path / "six.zrt", six_decimals=True)
    assert (tmp_path / "six.zrt").read_bytes() == text
    assert zrx.read(tmp_path / "six.zrt").structures[0]["r"] == 0.123457
    assert b"\tr = 0.1234567\n" in zrx.write_bytes(doc, "zrt")
