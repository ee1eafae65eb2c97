# What the role copies to a server, gathered in one folder on the controller
# so that one copy task carries it: a new folder in this run's local
# temporary folder (removed when the run ends) holding two links, one named
# after the package folder (terms[0]) and one named zolhost.exe to the host
# program (terms[1]). The copy follows the links, so the server receives
# the files, laid out as the sums of zol_sums name them.
#   lookup('zol_stage', package_dir, host_program)
import os
import tempfile

from ansible import constants as C
from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase


class LookupModule(LookupBase):
    def run(self, terms, variables=None, **kwargs):
        if len(terms) != 2:
            raise AnsibleError("zol_stage needs the package folder and the host program")
        package_dir, host_program = (os.path.abspath(t) for t in terms)
        if not os.path.isdir(package_dir):
            raise AnsibleError("the package folder %s does not exist" % package_dir)
        if not os.path.isfile(host_program):
            raise AnsibleError("the host program %s does not exist" % host_program)
        stage = tempfile.mkdtemp(prefix="zolfleet-stage.", dir=C.DEFAULT_LOCAL_TMP)
        os.symlink(package_dir, os.path.join(stage, os.path.basename(package_dir)))
        os.symlink(host_program, os.path.join(stage, "zolhost.exe"))
        return [stage]
