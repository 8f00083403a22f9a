#!/usr/bin/env bash
# install_tree.sh BUILD WORK VERSION CONSOLE(0|1) ICONS(0|1)
set -euo pipefail
build=$1 work=$2 version=$3 console=$4 icons=$5

rm -rf "$work"
mkdir -p "$work"
prefix=$work/usr
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# lib/ or, on a multiarch system configured for /usr, lib/<triplet>/.
libdir=
for candidate in "$prefix"/lib/libxelcomm.so.1 "$prefix"/lib/*/libxelcomm.so.1; do
    [ -e "$candidate" ] && { libdir=$(dirname "${candidate#"$prefix"/}"); break; }
done
[ -n "$libdir" ] || { echo "FAIL: libxelcomm.so.1 not installed" >&2; exit 1; }
private=$libdir/xelor

# ---- Layout
expect=(bin/xelctl bin/xelsim bin/xelor-regsvr
        "$libdir/libxelcomm.so.1" "$libdir/libxelcomm.so" "$libdir/pkgconfig/xelcomm.pc"
        include/xelor/xelcomm.h
        "$private/libxelor.so" "$private/libobjrt.so" "$private/libusbbridge.so" "$private/libpicboot.so"
        lib/udev/rules.d/70-xelor-bridge.rules
        share/man/man1/xelctl.1 share/man/man1/xelsim.1 share/man/man1/xelor-regsvr.1)
if [ "$console" = 1 ]; then
    expect+=(bin/xelexec bin/xelexec-address share/xelor/xelexec.ini
             share/man/man1/xelexec.1 share/man/man1/xelexec-address.1
             share/applications/com.corvanelabs.xelexec.desktop
             share/metainfo/com.corvanelabs.xelexec.metainfo.xml)
fi
if [ "$icons" = 1 ]; then
    for size in 48 128 256; do expect+=("share/icons/hicolor/${size}x${size}/apps/xelexec.png"); done
fi
for f in "${expect[@]}"; do [ -e "$prefix/$f" ] || fail "$f is not installed"; done
[ ! -e "$prefix/bin/regsvr" ] || fail "the registration tool is installed under its short name"
[ ! -e "$prefix/bin/xelexec.ini" ] || fail "data is installed among the programs"

# Every man page names the program it documents.
for page in "$prefix"/share/man/man1/*.1; do
    name=$(basename "$page" .1)
    [ -x "$prefix/bin/$name" ] || fail "man page $name.1 has no program"
    grep -q "^$(echo "$name" | sed 's/-/\\\\-/g') \\\\-" "$page" || fail "$name.1 does not name $name"
done
if [ "$icons" = 1 ]; then
    for size in 48 128 256; do
        png=$prefix/share/icons/hicolor/${size}x${size}/apps/xelexec.png
        # The PNG header's width and height, big-endian at bytes 16 and 20.
        dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
        [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
    done
fi
if [ "$console" = 1 ]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$prefix/share/applications/com.corvanelabs.xelexec.desktop" || fail "desktop entry invalid"
    fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$prefix/share/metainfo/com.corvanelabs.xelexec.metainfo.xml" >"$work/appstream.log" 2>&1 ||
            { cat "$work/appstream.log" >&2; fail "AppStream metainfo invalid"; }
    fi
fi

# ---- Libraries: the link driver's SONAME, and no path into the build tree.
soname=$(readelf -d "$prefix/$libdir/libxelcomm.so.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libxelcomm.so.1 ] || fail "libxelcomm's SONAME is '$soname'"
for elf in "$prefix"/bin/* "$prefix/$libdir"/libxelcomm.so.1 "$prefix/$private"/*.so; do
    runpath=$(readelf -d "$elf" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    case $runpath in
        *"$build"*) fail "$(basename "$elf") searches the build tree: $runpath" ;;
    esac
    IFS=: read -ra parts <<<"$runpath"
    for p in "${parts[@]}"; do
        case $p in ''|'$ORIGIN'|'$ORIGIN/'*) ;; *) fail "$(basename "$elf") has RUNPATH entry $p" ;; esac
    done
done

# ---- The public header stands alone; pkg-config gives what a program needs.
cc=${CC:-cc}
printf '#include <xelor/xelcomm.h>\nint main(void) { uint32_t e; GetCommStats(0, 0, &e); return (int)e - 1; }\n' >"$work/probe.c"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
if "$cc" -std=c11 -Wall -Wextra -Werror -o "$work/probe" "$work/probe.c" \
        $(pkg-config --define-prefix --cflags --libs xelcomm) -Wl,-rpath,"$prefix/$libdir"; then
    "$work/probe" || fail "a program built against the installed link driver does not run"
else
    fail "a C program does not build against the installed header and xelcomm.pc"
fi

# ---- The installed programs, from their own prefix: --version, and a core
# registered machine-wide (the user has no registration) reaching a unit.
programs=(xelctl xelsim xelor-regsvr)
[ "$console" = 1 ] && programs+=(xelexec-address)
for p in "${programs[@]}"; do
    out=$("$prefix/bin/$p" --version) || fail "$p --version failed"
    [ "$out" = "$p $version" ] || fail "$p --version says '$out'"
done

export XDG_CONFIG_HOME=$work/home XELOR_SYSTEM_ROOT=$work/system
mkdir -p "$XDG_CONFIG_HOME" "$XELOR_SYSTEM_ROOT"
"$prefix/bin/xelor-regsvr" --machine "$prefix/$private/libxelor.so" >/dev/null || fail "machine registration failed"
[ ! -e "$XDG_CONFIG_HOME/xelor/registry.json" ] || ! grep -q libxelor "$XDG_CONFIG_HOME/xelor/registry.json" ||
    fail "--machine wrote into the user's registry"

sim_pid=
trap '[ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true' EXIT
address=
for n in $(seq 30 60); do
    "$prefix/bin/xelsim" --tcp "127.0.0.$n:10001" </dev/null >"$work/xelsim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
        grep -q 'listening on' "$work/xelsim.out" && { address=127.0.0.$n; break; }
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$address" ] && break
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
done
if [ -z "$address" ]; then
    fail "the installed xelsim could not listen"
elif ! "$prefix/bin/xelctl" -a "$address" query >"$work/query.out" 2>&1; then
    cat "$work/query.out" >&2
    fail "the installed xelctl does not reach the unit through the machine registration"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s); the tree is in $work" >&2; exit 1; }
echo "installed tree: all checks passed"
