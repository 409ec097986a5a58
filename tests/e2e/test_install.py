"""Installing varnix: what `cmake --install` puts into a DESTDIR, the manual page, the
version option and the Debian package."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from tmuxdriver import build_dir

BUILD = build_dir()


def project_version():
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", f.read(), re.M).group(1)


class InstallTest(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="varnix-install-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_install_holds_the_program_and_its_page(self):
        env = dict(os.environ, DESTDIR=os.path.join(self.tmp, "root"))
        subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr/local"], env=env,
                       check=True, stdout=subprocess.DEVNULL)
        files = sorted(os.path.relpath(os.path.join(d, f), env["DESTDIR"])
                       for d, _, names in os.walk(env["DESTDIR"]) for f in names)
        self.assertEqual(files, ["usr/local/bin/varnix", "usr/local/share/man/man1/varnix.1"])
        page = os.path.join(env["DESTDIR"], "usr/local/share/man/man1/varnix.1")
        check = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stderr), (0, ""))
        with open(page) as f:
            self.assertIn('"varnix %s"' % project_version(), f.read())
        for option in ("--version", "-V"):
            out = subprocess.run([os.path.join(env["DESTDIR"], "usr/local/bin/varnix"), option],
                                 capture_output=True, text=True, env={"HOME": self.tmp})
            self.assertEqual((out.returncode, out.stdout), (0, "varnix %s\n" % project_version()))

    def test_debian_package_lists_the_program_and_its_page(self):
        subprocess.run(["cpack", "-G", "DEB", "-B", self.tmp], cwd=BUILD, check=True,
                       stdout=subprocess.DEVNULL)
        debs = [f for f in os.listdir(self.tmp) if f.endswith(".deb")]
        self.assertEqual(len(debs), 1, debs)
        deb = os.path.join(self.tmp, debs[0])
        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True,
                                 check=True).stdout
        files = sorted(line.split()[-1] for line in listing.splitlines() if not line.startswith("d"))
        self.assertEqual(files, ["./usr/bin/varnix", "./usr/share/man/man1/varnix.1"])
        depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True,
                                 text=True, check=True).stdout
        for lib in ("libncursesw6", "libexpat1", "libgnutls-openssl27"):
            self.assertIn(lib, depends)
        description = subprocess.run(["dpkg-deb", "-f", deb, "Description"], capture_output=True,
                                     text=True, check=True).stdout
        self.assertIn("terminal manager for BOINC clients\n varnix shows", description)
        self.assertNotIn(";", description)


if __name__ == "__main__":
    unittest.main()
