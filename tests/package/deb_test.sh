#!/usr/bin/env bash
# The Debian packages as users get them (DIST holds k2t-pendant_VERSION_ARCH.deb
# and k2t-linuxcnc_VERSION_ARCH.deb).
#   deb_test.sh contents DIST VERSION BUILD_DIR
#     each package holds exactly its files, and together they hold everything
#     the install rules install; versions, and Depends that name the package
#     of every shared library a program or the module needs
#   deb_test.sh install DIST VERSION SOURCE_DIR
#     both unpacked into an empty root: the installed pendant-bench runs a
#     script against the installed module, found from its own folder, and
#     the installed k2t-linuxcnc says its version without LinuxCNC
#   deb_test.sh lintian DIST
#     no error and no warning that is not overridden in the package
#   deb_test.sh postinst DIST
#     the udev rule's maintainer script in each situation it can meet
set -euo pipefail
mode=$1 dist=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb() {
  local found=("$dist/$1"_*.deb)
  [[ ${#found[@]} -eq 1 && -f ${found[0]} ]] || fail "$dist holds no single $1 package"
  echo "${found[0]}"
}
pendant=$(deb k2t-pendant)
linuxcnc=$(deb k2t-linuxcnc)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

case $mode in
contents)
  version=$3 build=$4
  expect_pendant="usr/bin/pendant-bench
usr/lib/$multiarch/k2t/K2TPendant.so
usr/lib/udev/rules.d/70-k2t-pendant.rules
usr/share/doc/k2t-pendant/changelog.gz
usr/share/doc/k2t-pendant/copyright
usr/share/doc/k2t-pendant/pendant-bench.md
usr/share/man/man1/pendant-bench.1.gz"
  expect_linuxcnc="usr/bin/k2t-linuxcnc
usr/share/doc/k2t-linuxcnc/changelog.gz
usr/share/doc/k2t-linuxcnc/copyright
usr/share/doc/k2t-linuxcnc/examples/k2t-demo.ngc
usr/share/doc/k2t-linuxcnc/examples/k2t-postgui.hal
usr/share/doc/k2t-linuxcnc/examples/k2t-sim.ini
usr/share/doc/k2t-linuxcnc/examples/k2t-sim.tbl
usr/share/man/man1/k2t-linuxcnc.1.gz"
  files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort; }
  for pair in "$pendant:$expect_pendant" "$linuxcnc:$expect_linuxcnc"; do
    package=${pair%%:*}
    diff <(sort <<<"${pair#*:}") <(files "$package") >"$work/diff" ||
      fail "$(basename "$package") does not hold what it should (< expected, > found):
$(cat "$work/diff")"
  done

  # An install rule without a component would install a file that no
  # package carries.
  DESTDIR="$work/all" cmake --install "$build" >/dev/null
  (cd "$work/all" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed"
  sort <(files "$pendant") <(files "$linuxcnc") >"$work/packaged"
  missing=$(comm -23 "$work/installed" "$work/packaged")
  [[ -z $missing ]] || fail "installed by the build but in no package: $missing"

  for package in "$pendant" "$linuxcnc"; do
    name=$(dpkg-deb -f "$package" Package)
    [[ $(dpkg-deb -f "$package" Version) == "$version" ]] || fail "$name is not version $version"
    for field in Maintainer Section Priority Installed-Size Description; do
      [[ -n $(dpkg-deb -f "$package" "$field") ]] || fail "$name has no $field"
    done
    depends=$(dpkg-deb -f "$package" Depends)
    depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g')
    # Every shared library a program or the module needs comes from a
    # package that Depends names.
    dpkg-deb -x "$package" "$work/$name"
    : >"$work/needed"
    while IFS= read -r elf; do
      readelf -d "$elf" | sed -n "s|.*(NEEDED).*\[\(.*\)\]|\1 ${elf#"$work/$name"/}|p" >>"$work/needed"
    done < <(find "$work/$name" -type f -exec sh -c 'head -c4 "$1" | grep -q "ELF"' _ {} \; -print)
    [[ -s $work/needed ]] || fail "$name: no shared library needed by any of its programs?"
    # One query for all: "package[:arch]: /path/soname" lines.
    dpkg-query -S $(awk '{print "*/" $1}' "$work/needed" | sort -u) 2>/dev/null >"$work/owners" || true
    while read -r soname elf; do
      owners=$(awk -v s="$soname" '{ f = $NF; sub(/.*\//, "", f)
                                     if (f == s) { sub(/: [^:]*$/, ""); gsub(/:[a-z0-9]+|,/, " "); print } }' \
                 "$work/owners" | tr ' ' '\n' | sed '/^$/d' | sort -u)
      [[ -n $owners ]] || fail "$name: no package holds $soname, needed by $elf"
      covered=0
      for owner in $owners; do
        grep -q -x -F "$owner" <<<"$depends_names" && covered=1
      done
      ((covered)) || fail "$name: $elf needs $soname (from $(echo $owners)), and Depends lacks it: $depends"
    done <"$work/needed"
    echo "$name $version: Depends: $depends"
  done
  linuxcnc_depends=$(dpkg-deb -f "$linuxcnc" Depends)
  built_against=$(dpkg-query -W -f='${Version}' linuxcnc-uspace)
  grep -q -F "k2t-pendant (= $version)" <<<"$linuxcnc_depends" || fail "k2t-linuxcnc does not depend on k2t-pendant (= $version)"
  grep -q -F "linuxcnc-uspace (= $built_against)" <<<"$linuxcnc_depends" ||
    fail "k2t-linuxcnc does not depend on the linuxcnc-uspace it was built against ($built_against)"
  ;;

install)
  version=$3 source=$4
  root=$work/root
  for package in "$pendant" "$linuxcnc"; do dpkg-deb -x "$package" "$root"; done
  bench=$root/usr/bin/pendant-bench
  module=$root/usr/lib/$multiarch/k2t/K2TPendant.so
  [[ -f $module ]] || fail "no module at $module"
  # From another folder, with nothing of the build tree in reach: the
  # programs find what they need from where they are.
  cd /
  [[ $("$bench" --version) == "pendant-bench $version" ]] || fail "pendant-bench --version says: $("$bench" --version)"
  "$bench" --help | grep -q -F "(default: $module)" ||
    fail "the installed bench does not take the installed module: $("$bench" --help | grep -- --module)"
  for script in step_jog estop; do
    env -i PATH=/usr/bin:/bin TMPDIR="$work" "$bench" --script "$source/tools/bench/tests/$script.bench" >"$work/$script.trace" ||
      fail "the installed bench's $script script failed: $(tail -5 "$work/$script.trace")"
  done
  grep -q -F 'entry SetProName' "$work/step_jog.trace" || fail "the step jog's trace does not show the module starting"
  grep -q -F 'call Code "G91G1 F' "$work/step_jog.trace" || fail "the installed module sent no step jog"
  # --version needs neither an INI nor a running LinuxCNC, and touches neither.
  bridge=$root/usr/bin/k2t-linuxcnc
  out=$(env -i PATH=/usr/bin:/bin "$bridge" --version 2>&1) || fail "k2t-linuxcnc --version failed: $out"
  [[ $out == "k2t-linuxcnc $version" ]] || fail "k2t-linuxcnc --version says: $out"
  "$bridge" --help | grep -q -F " $module)" ||
    fail "the installed bridge does not take the installed module: $("$bridge" --help | grep -A1 -- --module)"
  echo "installed pendant-bench and k2t-linuxcnc $version run from $root"
  ;;

lintian)
  # Warnings kept on purpose are overridden in the package, with the reason.
  lintian --fail-on error,warning --show-overrides --pedantic -I "$pendant" "$linuxcnc" 2>&1 |
    grep -v '^running with root privileges' | tee "$work/lintian" || fail "lintian: errors or warnings above"
  ;;

postinst)
  dpkg-deb -e "$pendant" "$work/control"
  script=$work/control/postinst
  [[ -x $script ]] || fail "k2t-pendant has no executable postinst"
  # Each case: the action, whether this is a chroot (ischroot's status:
  # 0 yes, 1 no, 2 cannot tell), whether udev answers, whether udevadm
  # is there and fails, DPKG_ROOT; then the udevadm calls expected.
  refresh="control --ping;control --reload-rules;trigger --subsystem-match=hidraw --action=change"
  while IFS='|' read -r action chroot udev udevadm dpkg_root expected; do
    bin=$work/bin.$RANDOM
    mkdir "$bin"
    printf '#!/bin/sh\nexit %s\n' "$chroot" >"$bin/ischroot"
    if [[ $udevadm != absent ]]; then
      cat >"$bin/udevadm" <<EOF
#!/bin/sh
echo "\$*" >>"$bin/calls"
case "\$*" in
  "control --ping") [ "$udev" = running ] ;;
  *) [ "$udevadm" = works ] ;;
esac
EOF
    fi
    chmod +x "$bin"/*
    status=0
    env -i PATH="$bin" DPKG_ROOT="$dpkg_root" /bin/sh "$script" "$action" >"$work/out" 2>&1 || status=$?
    calls=$(paste -s -d ';' "$bin/calls" 2>/dev/null || true)
    case_text="postinst $action (chroot status $chroot, udev $udev, udevadm $udevadm, DPKG_ROOT '$dpkg_root')"
    [[ $status -eq 0 ]] || fail "$case_text exits $status: $(cat "$work/out")"
    [[ $calls == "$expected" ]] || fail "$case_text called udevadm: '$calls', expected '$expected'"
  done <<EOF
configure|1|running|works||$refresh
configure|2|running|works||$refresh
configure|1|running|fails||$refresh
configure|0|running|works||
configure|1|stopped|works||control --ping
configure|1|running|absent||
configure|1|running|works|/target|
upgrade|1|running|works||
abort-upgrade|1|running|works||
EOF
  echo "postinst: every case as expected"
  ;;

*)
  fail "unknown mode $mode"
  ;;
esac
