"""tools/devroot creating, repairing and entering its root, against stub system tools.

debootstrap, chroot, apt-get, unshare and id are replaced by stubs that only
record their calls, so nothing outside the temporary folder is touched.
"""

import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEVROOT = ROOT / "tools" / "devroot"

STUBS = {
    "id": 'echo 0',
    "apt-get": 'exit 0',
    "chroot": 'echo "chroot $*" >>"$STUB_LOG"',
    "unshare": 'echo "unshare" >>"$STUB_LOG"',
    # Makes what the script itself writes into a new root, then fails on request.
    "debootstrap": """echo "debootstrap $*" >>"$STUB_LOG"
target=${@: -2:1}
mkdir -p "$target/etc/apt/apt.conf.d"
touch "$target/bootstrapped"
[ -z "${STUB_DEBOOTSTRAP_FAIL:-}" ] || exit 1""",
}


@pytest.fixture
def devroot(tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, body in STUBS.items():
        stub = bin_dir / name
        stub.write_text("#!/bin/bash\n" + body + "\n")
        stub.chmod(0o755)
    log = tmp_path / "calls.log"
    cache = tmp_path / "cache"
    cache.mkdir()
    root = cache / "sid-root"

    def run(**env):
        full = {
            "PATH": f"{bin_dir}:/usr/bin:/bin:/usr/sbin:/sbin",
            "VELLORA_ROOT": str(root),
            "VELLORA_FORCE_ROOT": "1",
            "VELLORA_MIRROR": "file:///nowhere",
            "STUB_LOG": str(log),
            **env,
        }
        result = subprocess.run([str(DEVROOT), "true"], env=full, capture_output=True, text=True, timeout=60)
        calls = log.read_text().splitlines() if log.exists() else []
        log.unlink(missing_ok=True)
        return result, calls

    run.root = root
    run.cache = cache
    return run


def refused(result):
    lines = result.stderr.splitlines()
    return result.returncode == 1 and len(lines) == 1 and lines[0].startswith("devroot: ")


def test_fresh_root_is_built_then_reused(devroot):
    result, calls = devroot()
    assert result.returncode == 0, result.stderr
    assert [c.split()[0] for c in calls if not c.startswith("chroot")] == ["debootstrap", "unshare"]
    assert (devroot.root / ".vellora-base").is_file() and (devroot.root / "bootstrapped").is_file()
    assert not (devroot.root / ".vellora-partial").exists()
    assert sorted(p.name for p in devroot.cache.iterdir()) == ["sid-root", "sid-root.lock"]

    result, calls = devroot()
    assert result.returncode == 0, result.stderr
    assert calls == ["unshare"]


@pytest.mark.parametrize("make", ["folder_with_files", "empty_folder", "plain_file", "link_to_foreign_folder"])
def test_foreign_root_path_is_refused_untouched(devroot, tmp_path, make):
    foreign = tmp_path / "precious"
    foreign.mkdir()
    (foreign / "data.txt").write_text("keep me")
    if make == "folder_with_files":
        devroot.root.mkdir()
        (devroot.root / "data.txt").write_text("keep me")
    elif make == "empty_folder":
        devroot.root.mkdir()
    elif make == "plain_file":
        devroot.root.write_text("keep me")
    else:
        devroot.root.symlink_to(foreign)
    before = sorted(os.listdir(devroot.cache))

    result, calls = devroot()
    assert refused(result), result.stderr
    assert str(devroot.root) in result.stderr
    assert calls == []
    assert sorted(os.listdir(devroot.cache)) == before
    assert (foreign / "data.txt").read_text() == "keep me"
    if make in ("folder_with_files", "plain_file"):
        assert (devroot.root / "data.txt" if make == "folder_with_files" else devroot.root).read_text() == "keep me"


def test_failed_bootstrap_leaves_no_root_and_is_cleaned_next_time(devroot):
    result, _ = devroot(STUB_DEBOOTSTRAP_FAIL="1")
    assert result.returncode == 1 and "debootstrap failed" in result.stderr
    assert not devroot.root.exists()

    result, calls = devroot()
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in devroot.cache.iterdir()) == ["sid-root", "sid-root.lock"]


def test_only_unfinished_folders_of_its_own_are_removed(devroot):
    ours = devroot.cache / "sid-root.partial.abc123"
    ours.mkdir()
    (ours / ".vellora-partial").touch()
    theirs = devroot.cache / "sid-root.partial.mine"
    theirs.mkdir()
    (theirs / "data.txt").write_text("keep me")

    result, _ = devroot()
    assert result.returncode == 0, result.stderr
    assert not ours.exists()
    assert (theirs / "data.txt").read_text() == "keep me"


@pytest.mark.parametrize("make", ["link_to_file", "dangling_link", "folder"])
def test_odd_lock_path_is_refused_without_writing_through_it(devroot, tmp_path, make):
    target = tmp_path / "victim.txt"
    lock = devroot.cache / "sid-root.lock"
    if make == "link_to_file":
        target.write_text("keep me")
        lock.symlink_to(target)
    elif make == "dangling_link":
        lock.symlink_to(target)
    else:
        lock.mkdir()

    result, calls = devroot()
    assert refused(result), result.stderr
    assert "lock" in result.stderr
    assert calls == []
    assert not devroot.root.exists()
    if make == "link_to_file":
        assert target.read_text() == "keep me"
    if make == "dangling_link":
        assert not target.exists()
