#!/bin/sh
# install_wheel.sh PYTHON VENV WHEEL_DIR
#
# A fresh virtual environment VENV of PYTHON that also sees the system's
# packages, and the package installed into it from the wheels in WHEEL_DIR
# as a user installs it: pip picks the wheel of this platform and finds
# NumPy among the system's packages, with no index to ask (and, isolated,
# no other place to look that pip's environment variables may name).
set -eu
python=$1
venv=$2
wheels=$3
rm -rf "$venv"
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --isolated --quiet --disable-pip-version-check --no-index \
  --find-links "$wheels" tarvbandscore
"$venv/bin/python" -c 'import tarvbandscore, sys; print("installed", tarvbandscore.__file__)'
