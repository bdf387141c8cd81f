#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing (needs root).
set -euo pipefail
# python3 runs the layering check (scripts/layering.py).
packages=(g++ cmake make python3 libgtest-dev libgmock-dev qt6-base-dev fonts-dejavu-core fonts-liberation locales)
# The trend window: Qt Charts; its CMake package needs the OpenGL module's, which qt6-charts-dev does
# not pull in on Debian 12.
packages+=(qt6-charts-dev libqt6opengl6-dev)
# clang and its runtime for the fuzz targets; python3-serial for the link benchmark's comparison.
packages+=(clang libclang-rt-14-dev python3-serial)
# The korva program's JSON output.
packages+=(nlohmann-json3-dev)
# The MinGW-w64 cross compiler builds the link and monitor layers with the Windows serial backend.
packages+=(g++-mingw-w64-x86-64-posix)
# Wine runs the Windows build against the simulator.
packages+=(wine64)
# The Debian package: CPack's dependency computation, the validators and the smoke check's X server.
packages+=(dpkg-dev file lintian desktop-file-utils appstream xvfb xauth xdotool)
# The plant bridge: libmosquitto for the publisher; the mosquitto broker, its clients and openssl
# for the tests (a broker with a password file, an ACL and certificates made there); systemd for
# systemd-analyze, which checks the bridge's service unit.
packages+=(libmosquitto-dev mosquitto mosquitto-clients openssl systemd)
# ser2net, a real serial device server, in front of the simulator for the network port tests.
packages+=(ser2net)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The wire-format tests run once under a comma-decimal locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "warning: could not generate de_DE.UTF-8"
fi
