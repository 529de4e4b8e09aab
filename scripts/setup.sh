#!/usr/bin/env bash
# Installs what tarnwick needs on a fresh Debian machine (run as root), then
# builds the abi3 wheel into dist/ and installs it. With --test it also
# installs the tools the test suite uses.
set -euo pipefail
cd "$(dirname "$0")/.."

with_tests=0
if [[ "${1:-}" == "--test" ]]; then with_tests=1; fi

system_packages=(g++ libsqlite3-dev libpg-query-dev)
if ((with_tests)); then system_packages+=(libgtest-dev util-linux chrony); fi

missing=()
for package in "${system_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore \
  "scikit-build-core>=0.10" cmake ninja
if ((with_tests)); then
  python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore \
    pytest flatbuffers mypy abi3audit
fi

rm -rf dist
python3 -m pip wheel -q --disable-pip-version-check --no-deps -w dist \
  -Ccmake.define.TARNWICK_WERROR=ON .
python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore \
  --force-reinstall --no-deps dist/tarnwick-*.whl
