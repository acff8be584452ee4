#!/bin/bash
# Checks the packages in build-debs/ on a fresh Debian 12: bootstraps a minimal
# Debian 12 into a folder of its own, installs the packages there with apt (as a
# user would), runs their autopkgtest tests against what is installed, purges them
# and checks that nothing of them is left behind. Run scripts/build-debs.sh first.
# Needs root (debootstrap, chroot, mounts); installs debootstrap when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
shopt -s nullglob
debs=("$top"/build-debs/*.deb)
((${#debs[@]})) || { echo "check-debs: no packages in build-debs/; run scripts/build-debs.sh first" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "check-debs: needs root" >&2; exit 1; }
command -v debootstrap >/dev/null || { apt-get update -q && apt-get install -y -q debootstrap; }

# The mirror this machine installs from.
mirror=$(grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{ print $2 }' | grep -E '/debian/?$' | head -1 || true)
[[ -n $mirror ]] || mirror=$(grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{ print $2 }' | head -1 || true)
[[ -n $mirror ]] || { echo "check-debs: no Debian mirror in this machine's apt sources" >&2; exit 1; }

# A bootstrapped Debian 12 is kept as a tarball, so that each check starts from a fresh copy.
cache=${XDG_CACHE_HOME:-$HOME/.cache}/qrova-check-debs
tarball=$cache/bookworm-minbase.tar
if [[ ! -f $tarball ]]; then
    mkdir -p "$cache"
    boot=$(mktemp -d)
    echo "== bootstrapping Debian 12 (minbase) from $mirror"
    debootstrap --variant=minbase bookworm "$boot" "$mirror" > "$cache/debootstrap.log" 2>&1 \
        || { echo "check-debs: debootstrap failed, see $cache/debootstrap.log" >&2; rm -rf "$boot"; exit 1; }
    tar -C "$boot" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$boot"
fi

root=$(mktemp -d)
mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"; done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -C "$root" -xf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --bind /dev "$root/dev" && mounted+=("$root/dev")
mount --bind /dev/pts "$root/dev/pts" && mounted+=("$root/dev/pts")
mount -t tmpfs tmpfs "$root/tmp" && mounted+=("$root/tmp")
# No service a package brings starts inside the check.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

mkdir -p "$root/root/check/build-debs" "$root/root/check/src"
cp "${debs[@]}" "$root/root/check/build-debs/"
git ls-files -z --cached --others --exclude-standard | grep -zv '^build-debs/' \
    | while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done \
    | xargs -0 cp --parents -t "$root/root/check/src"

# A user's login environment, not this shell's (no compiler launcher, no build settings).
chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -euo pipefail -c '
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
cd /root/check
packages=$(for d in build-debs/*.deb; do dpkg-deb -f "$d" Package; done | sort)

echo "== apt install ./build-debs/*.deb"
apt-get update -q >/dev/null
apt-get install -y -q ./build-debs/*.deb >/tmp/install.log \
    || { tail -30 /tmp/install.log; exit 1; }
dpkg -L $packages | sort -u > /tmp/owned

echo "== autopkgtest, against the installed packages"
apt-get install -y -q --no-install-recommends autopkgtest >/dev/null
rc=0
autopkgtest --no-built-binaries src/ -- null || rc=$?
# 2: at least one test was skipped; anything else but 0 is a failure.
if [[ $rc -ne 0 && $rc -ne 2 ]]; then echo "autopkgtest failed ($rc)"; exit 1; fi

echo "== apt purge, then nothing of the packages may be left"
apt-get purge -y -q $packages >/dev/null
left=()
while IFS= read -r path; do
    [[ $path != /. ]] && [[ -e $path || -L $path ]] || continue
    if [[ -d $path && ! -L $path ]]; then
        dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
    else
        left+=("$path")
    fi
done < /tmp/owned
while IFS= read -r path; do left+=("$path"); done < <(find / -xdev \( -path /proc -o -path /root/check -o -path /tmp \
    -o -path /var/cache/apt -o -path /var/lib/apt -o -path /var/log \) -prune -o -iname "*qrova*" -print)
if ((${#left[@]})); then printf "left behind: %s\n" "${left[@]}"; exit 1; fi
echo "purged: nothing of $(echo $packages | wc -w) packages left behind"
'
echo "check-debs: the packages install, pass their tests and purge cleanly on a fresh Debian 12"
