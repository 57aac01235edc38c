"""Prints the site directory for modules, relative to the install prefix given."""
import sys
import sysconfig

prefix = sys.argv[1].rstrip("/") or "/"
version = "python%d.%d" % sys.version_info[:2]
if "deb_system" in sysconfig.get_scheme_names():
    print("lib/python3/dist-packages" if prefix == "/usr" else "lib/%s/dist-packages" % version)
else:
    path = sysconfig.get_path("platlib", "posix_prefix", {"base": "", "platbase": ""})
    print(path.lstrip("/"))
