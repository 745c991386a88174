"""Failed writes raise the OSError that the system's error number means, with errno, strerror and
filename set, as reads do; the previous file stays."""

import errno
import os
import subprocess

import numpy as np
import pytest

import zrx
from conftest import scene

ROOT = os.geteuid() == 0
# mount and umount run without the sanitizer runtime that the tests' interpreter may preload.
PLAIN = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def big_document():
    """About 8 MB in either format."""
    return zrx.Document([zrx.Structure("<Big>", [("v", np.arange(1e6))])], {"Creation_Date": "-"})


@pytest.fixture
def small_tmpfs(tmp_path):
    """A folder on a 1 MiB tmpfs (root only)."""
    if not ROOT:
        pytest.skip("mounting a small tmpfs needs root")
    folder = tmp_path / "small"
    folder.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(folder)],
                      capture_output=True, env=PLAIN).returncode != 0:
        pytest.skip("cannot mount a tmpfs here")
    yield folder
    subprocess.run(["umount", str(folder)], check=True, env=PLAIN)


@pytest.fixture
def read_only_folder(tmp_path):
    """A folder nobody may write to: a read-only mount as root (who passes permission bits),
    else permission bits."""
    folder = tmp_path / "ro"
    folder.mkdir()
    (folder / "kept.zrb").write_bytes(b"previous")
    if not ROOT:
        folder.chmod(0o555)
        yield folder, errno.EACCES
        folder.chmod(0o755)
        return
    if subprocess.run(["mount", "--bind", "-o", "ro", str(folder), str(folder)],
                      capture_output=True, env=PLAIN).returncode != 0:
        pytest.skip("cannot mount read-only here")
    # Older mounts take the read-only flag only on a remount.
    subprocess.run(["mount", "-o", "remount,bind,ro", str(folder)], capture_output=True, env=PLAIN)
    yield folder, errno.EROFS
    subprocess.run(["umount", str(folder)], check=True, env=PLAIN)


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_a_missing_folder_is_file_not_found(tmp_path, fmt):
    path = tmp_path / "missing" / "dir" / f"out.{fmt}"
    with pytest.raises(FileNotFoundError) as error:
        zrx.write(scene(), path)
    assert (error.value.errno, error.value.filename) == (errno.ENOENT, str(path))
    assert error.value.strerror == os.strerror(errno.ENOENT)


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_a_read_only_folder_says_so_and_keeps_the_file(read_only_folder, fmt):
    folder, code = read_only_folder
    path = folder / "kept.zrb"
    with pytest.raises(OSError) as error:
        zrx.write(scene(), path, format=fmt)
    assert (error.value.errno, error.value.filename) == (code, str(path))
    assert path.read_bytes() == b"previous"


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_a_full_disk_is_no_space_and_leaves_nothing(small_tmpfs, fmt):
    path = small_tmpfs / f"big.{fmt}"
    with pytest.raises(OSError) as error:
        zrx.write(big_document(), path)
    assert (error.value.errno, error.value.filename) == (errno.ENOSPC, str(path))
    assert list(small_tmpfs.iterdir()) == []
    zrx.write(scene(), path)  # there is room for a small one
    assert zrx.read(path) == scene()
