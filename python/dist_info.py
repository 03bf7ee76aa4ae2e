"""Writes quellmar-<version>.dist-info into a folder from pyproject.toml.

    dist_info.py PYPROJECT FOLDER

The folder then holds, beside the package, what importlib.metadata reads:
METADATA (name and version) and entry_points.txt (the console scripts and
every [project.entry-points] group, among them the xarray engine). For a
package put in place without pip: the build folder, or an installation.
"""

import os
import re
import shutil
import sys
import tomllib


def version(package_dir):
    with open(os.path.join(package_dir, "quellmar", "_version.py")) as f:
        return re.search(r'__version__ = "([0-9.]+)"', f.read()).group(1)


def main(pyproject, folder):
    with open(pyproject, "rb") as f:
        project = tomllib.load(f)["project"]
    name = project["name"]
    ver = version(os.path.dirname(os.path.abspath(pyproject)))
    groups = {}
    if "scripts" in project:
        groups["console_scripts"] = project["scripts"]
    groups.update(project.get("entry-points", {}))
    target = os.path.join(folder, "%s-%s.dist-info" % (name, ver))
    for old in os.listdir(folder) if os.path.isdir(folder) else []:
        if old.startswith(name + "-") and old.endswith(".dist-info") and old != os.path.basename(target):
            shutil.rmtree(os.path.join(folder, old))
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "METADATA"), "w") as f:
        f.write("Metadata-Version: 2.1\nName: %s\nVersion: %s\n" % (name, ver))
    with open(os.path.join(target, "entry_points.txt"), "w") as f:
        for group, entries in groups.items():
            f.write("[%s]\n" % group)
            for key, value in entries.items():
                f.write("%s = %s\n" % (key, value))
            f.write("\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
