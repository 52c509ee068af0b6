#!/usr/bin/env bash
# Writes the seed corpora of fuzz/run.sh into fuzz/corpus (they are kept in
# git; rerun this only to change them):
#   pack/    small containers made byte by byte here: header only, records
#            with and without the end marker, an empty file, a 64-byte name,
#            a GBK name, a name that code page 936 cannot represent, bytes
#            behind the end marker, a nested component pack;
#   xml/     KavlaCustom.xml and KavlaUninstallInfo.xml documents with the
#            sections functions, logoOptions and uninstallInfo, Chinese text,
#            stored passwords made by OpenSSL's DES-ECB and base64;
#   cipher/  stored password texts made the same way, and near misses.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/corpus}
key=6d6572766f323733
stored() { openssl enc -des-ecb -provider legacy -provider default -K "$key" -nosalt | base64 -w0; }
printf 'abc' | stored >/dev/null 2>&1 || { echo "make_corpus.sh: this openssl has no DES (legacy provider)" >&2; exit 2; }
[ "$(printf 'abc' | stored)" = "M26MqW+1/1s=" ] || { echo "make_corpus.sh: unexpected DES text" >&2; exit 2; }

# ---- pack: every byte but the two length fields negated ----
le32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
mix() { # bytes on stdin -> their two's-complement negations on stdout
  local b esc=""
  for b in $(od -An -v -tu1); do esc+=$(printf '\\%03o' $(( (256 - b) % 256 ))); done
  printf "$esc"
}
header() { printf '%s' '^-=Kavla=-^ Vorn ' | mix; }
record() { # NAME FILE
  le32 "${#1}"
  le32 "$(stat -c %s "$2")"
  printf '%s' "$1" | mix
  mix < "$2"
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf 'Kavla client\r\nrelease notes\r\n' > "$tmp/readme"
printf '[setup]\r\nlang=2052\r\n' > "$tmp/ini"
: > "$tmp/empty"
printf '%s' "$(seq -s, 1 40)" > "$tmp/numbers"
head -c 64 /dev/zero | tr '\0' '\377' > "$tmp/ff"
printf '\xc4\xe3\xba\xc3\xa3\xac\xca\xc0\xbd\xe7' > "$tmp/gbk"   # GBK text
{ header; record inner.txt "$tmp/readme"; } > "$tmp/inner"

mkdir -p "$out/pack" "$out/xml" "$out/cipher"
rm -f "$out"/pack/* "$out"/xml/* "$out"/cipher/*
header > "$out/pack/header_only.pack"
{ header; record '^Kavla_end^' "$tmp/empty"; } > "$out/pack/end_only.pack"
{ header; record readme.txt "$tmp/readme"; record '^Kavla_end^' "$tmp/empty"; } > "$out/pack/one_file_end.pack"
{ header; record a.txt "$tmp/ini"; record empty.dat "$tmp/empty"; record data.bin "$tmp/ff"; } \
  > "$out/pack/three_files_no_end.pack"
{ header; record config.ini "$tmp/ini"; record '^Kavla_end^' "$tmp/empty"; printf 'TRAILING\0\1\2'; } \
  > "$out/pack/bytes_after_end.pack"
{ header; record "$(printf 'N%.0s' $(seq 1 60)).txt" "$tmp/numbers"; record $'\xc4\xe3\xba\xc3.txt' "$tmp/gbk";
  record '^Kavla_end^' "$tmp/empty"; } > "$out/pack/long_and_gbk_names.pack"
# A name ending in a lead byte of code page 936 with no trail byte.
{ header; record $'readme.txt\x81' "$tmp/readme"; record '^Kavla_end^' "$tmp/empty"; } > "$out/pack/lossy_name.pack"
{ header; record KavlaComponent.exe "$tmp/inner"; record Qt.7z "$tmp/numbers"; record '^Kavla_end^' "$tmp/empty"; } \
  > "$out/pack/component.pack"

# ---- xml ----
pwd1=$(printf 'Kavla@2024' | stored)
pwd2=$(printf '\xc3\xdc\xc2\xeb123' | stored)          # GBK bytes of a Chinese password
pwd3=$(printf 'eight888' | stored)                     # a whole block of padding
cat > "$out/xml/KavlaCustom_full.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<msg>
  <content>
    <functions>
      <renameConn>1</renameConn>
      <arp>0</arp>
      <dhcp>1</dhcp>
      <wanControl>0</wanControl>
      <acl>1</acl>
      <uninstall>1</uninstall>
      <passwordProtection>1</passwordProtection>
      <remindPopSecUI>0</remindPopSecUI>
      <AutoHideSecUI>1</AutoHideSecUI>
      <blackBox>0</blackBox>
      <userFromCert>0</userFromCert>
      <disableExit>1</disableExit>
      <patchARV>0</patchARV>
      <autoReboot>0</autoReboot>
      <url>0</url>
      <disablePap>1</disablePap>
      <ssid>0</ssid>
      <forbidMdyIp>0</forbidMdyIp>
      <drvErr>0</drvErr>
      <dynamicPwdVerify>0</dynamicPwdVerify>
      <userNameLenFromCert>16</userNameLenFromCert>
      <userFromExtendPro>1.3.6.1.4.1.311.20.2.3</userFromExtendPro>
      <dynamicVifInfo>1</dynamicVifInfo>
      <macsec>0</macsec>
      <msgAuthOpt>0</msgAuthOpt>
      <hideRestart>0</hideRestart>
      <iESiOSDK>0</iESiOSDK>
      <uninstallPassword>$pwd1</uninstallPassword>
    </functions>
    <logoOptions>
      <customIcon>1</customIcon>
      <CusIconName>企业图标.ico</CusIconName>
      <subAboutInfo>网络接入客户端 版权所有</subAboutInfo>
      <subTitle>Kavla 客户端</subTitle>
      <bAddTrayIcon>1</bAddTrayIcon>
      <bHideIcon>0</bHideIcon>
      <bHideShortcut>0</bHideShortcut>
    </logoOptions>
    <connection><name>办公网</name><type>8021x</type></connection>
  </content>
</msg>
XML
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' <<XML
<?xml version="1.0" encoding="UTF-8"?>
<msg><content>
<!-- message authentication on -->
<functions><uninstall>1</uninstall><msgAuthOpt>1</msgAuthOpt><msgAuthInfo>0</msgAuthInfo>
<msgAuthServIP>10.0.0.1</msgAuthServIP><msgAuthServPort>8443</msgAuthServPort>
<uninstallPassword>$pwd2</uninstallPassword><userFromExtendPro>用户扩展属性</userFromExtendPro></functions>
<logoOptions><subTitle><![CDATA[a<b]]></subTitle><CusIconName>icon&amp;1.ico</CusIconName><customIcon>-1</customIcon></logoOptions>
</content></msg>
XML
} > "$out/xml/KavlaCustom_msgauth.xml"
printf '%s' '<?xml version="1.0" encoding="UTF-8"?><msg><content></content></msg>' > "$out/xml/KavlaCustom_template.xml"
cat > "$out/xml/KavlaCustom_edge.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<msg><content><functions/><logoOptions><CusIconName/><subTitle></subTitle><bHideIcon> 5</bHideIcon></logoOptions>
<functions><uninstall>1</uninstall></functions></content></msg>
XML
cat > "$out/xml/KavlaUninstallInfo.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<msg>
  <content>
    <uninstallInfo>
      <uninstall>1</uninstall>
      <uninstallPass>$pwd3</uninstallPass>
    </uninstallInfo>
  </content>
</msg>
XML
cat > "$out/xml/KavlaUninstallInfo_gbk.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<msg><content><uninstallInfo><uninstallPass>$pwd2</uninstallPass><uninstall>-1</uninstall></uninstallInfo></content></msg>
XML

# ---- cipher ----
w() { printf '%s' "$2" > "$out/cipher/$1"; }
w abc.txt "$(printf 'abc' | stored)"
w block8.txt "$pwd3"
w gbk.txt "$pwd2"
w long87.txt "$(printf 'P%.0s' $(seq 1 87) | stored)"
w one_byte.txt "$(printf 'x' | stored)"
w miss_len13.txt "M26MqW+1/1s=A"
w miss_eq_second.txt "M=6MqW+1/1s="
w miss_char.txt "M26MqW+1/1s!"
w miss_cut_group.txt "M26MqW+1"
w miss_no_padding.txt "$(printf 'abcdefgh' | openssl enc -des-ecb -provider legacy -provider default -K "$key" -nosalt -nopad | base64 -w0)"
w miss_newline.txt "$pwd1"$'\n'
echo "make_corpus.sh: $(ls "$out/pack" | wc -l) pack, $(ls "$out/xml" | wc -l) xml, $(ls "$out/cipher" | wc -l) cipher seeds, $(du -cb "$out"/*/* | tail -1 | cut -f1) bytes"
