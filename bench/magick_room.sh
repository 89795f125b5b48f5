# Sourced by the peer scripts. magick_room FOLDER writes an ImageMagick
# policy into FOLDER/impolicy with room for a whole wide-format page in
# memory (the stock policy caps width, height and area, and its 256 MiB
# would page the pixel cache to disk), and points ImageMagick at it.
magick_room() {
  mkdir -p "$1/impolicy"
  cat > "$1/impolicy/policy.xml" << 'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="disk" value="16GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
</policymap>
POLICY
  export MAGICK_CONFIGURE_PATH="$1/impolicy"
}
