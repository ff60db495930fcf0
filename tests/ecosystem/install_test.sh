#!/usr/bin/env bash
# Installs the build into a scratch root and runs a demo command from there:
#   install_test.sh install BUILD-DIR   cmake --install with DESTDIR
#   install_test.sh package BUILD-DIR   the Debian package cpack makes, unpacked
# The package's dependencies must have been computed (dpkg-shlibdeps).
set -euo pipefail
mode=$1 build=$2
scratch=$(mktemp -d /tmp/vorel-install-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root

fail() { echo "FAIL: $*"; exit 1; }

case $mode in
install)
  DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
  ;;
package)
  cpack --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null
  deb=$(echo "$scratch"/pkg/vorel_*.deb)
  [ -f "$deb" ] || fail "cpack made no package"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libbz2 libyaml-cpp libpcap0.8; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
  done
  dpkg-deb -x "$deb" "$root"
  ;;
*) fail "unknown mode $mode" ;;
esac

for f in usr/sbin/vorel usr/sbin/mvorel usr/bin/vorel-lab \
         usr/share/man/man8/vorel.8.gz usr/share/man/man8/vorel-lab.8.gz \
         usr/share/bash-completion/completions/vorel usr/share/bash-completion/completions/vorel-lab \
         usr/share/vorel/layouts/tcplog.yaml usr/share/vorel/scenarios/demo.yaml \
         usr/share/vorel/scenarios/demo/tcplog.yaml usr/share/vorel/schemas/commands.txt; do
  [ -f "$root/$f" ] || fail "$f is not installed"
done

# The demo router's first PIC keeps two logging connections (its scenario's
# tcplog data), shown as the TCP logging command prints them.
expected='Entry num : 0
Id 0 Status : 3 sn_id 4001
 remote-port 514 local IP 10.10.1.1 peer IP 192.0.2.10
Entry num : 1
Id 1 Status : 1 sn_id 4002
 remote-port 6514 local IP 10.10.1.1 peer IP 192.0.2.11'
got=$(cd / && "$root/usr/bin/vorel-lab" exec "$root/usr/share/vorel/scenarios/demo.yaml" -- \
        "$root/usr/sbin/vorel" -C tcplog -S connection -i ms-1/0/0)
[ "$got" = "$expected" ] || fail "the installed vorel answered:
$got"
echo "ok: $mode"
