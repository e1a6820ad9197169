"""EFI files signed for a test: a CA and a signer made for the run with openssl, the signature
made with osslsigncode."""

import subprocess
import tempfile
from pathlib import Path


def signed_by_test_ca(efi, ca_subject, signer_subject, nest=False):
    """efi (a path) signed by a new signer under a new CA of these subjects, its signature
    nested in the file's own one when nest: (the signed file's bytes, the CA certificate in
    DER)."""
    with tempfile.TemporaryDirectory() as folder:
        script = f"""
            openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '{ca_subject}' \
                -keyout ca.key -out ca.pem
            openssl req -newkey rsa:2048 -nodes -subj '{signer_subject}' \
                -keyout signer.key -out signer.csr
            openssl x509 -req -days 30 -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 7 \
                -out signer.pem
            cat signer.pem ca.pem > chain.pem
            openssl x509 -in ca.pem -outform DER -out ca.der
            osslsigncode sign {'-nest' if nest else ''} -h sha256 -certs chain.pem \
                -key signer.key -in {efi} -out signed.efi
        """
        done = subprocess.run(["sh", "-ec", script], cwd=folder, capture_output=True, text=True)
        if done.returncode != 0:
            raise OSError(f"signing {efi} with a test CA failed: {done.stderr.strip()}")
        folder = Path(folder)
        return (folder / "signed.efi").read_bytes(), (folder / "ca.der").read_bytes()
