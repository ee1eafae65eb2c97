# The SHA-256 sums of what the role copies to a server, taken on the
# controller: every file below the package folder (terms[0]) and the host
# program (terms[1]), by their path below the deployment folder with
# backslashes ("<package>\zolcomp.dll", "zolhost.exe": the host program is
# copied under that name).
#   lookup('zol_sums', package_dir, host_program)
import hashlib
import os

from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase


def _sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class LookupModule(LookupBase):
    def run(self, terms, variables=None, **kwargs):
        if len(terms) != 2:
            raise AnsibleError("zol_sums needs the package folder and the host program")
        package_dir, host_program = (os.path.normpath(t) for t in terms)
        if not os.path.isdir(package_dir):
            raise AnsibleError("the package folder %s does not exist" % package_dir)
        package = os.path.basename(package_dir)
        sums = {}
        for folder, _, files in os.walk(package_dir):
            for name in files:
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, package_dir).replace(os.sep, "\\")
                sums[package + "\\" + relative] = _sha256(path)
        sums["zolhost.exe"] = _sha256(host_program)
        return [sums]
