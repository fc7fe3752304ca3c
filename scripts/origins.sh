# Sourced by the build scripts. The placeholder server origins, which reach nothing, and the
# CMake arguments that set both origins on every build (the placeholders where none is given),
# so that a build folder's cache never keeps the servers of an earlier build.
placeholder_asset_origin=http://card-assets.invalid
placeholder_info_origin=http://card-info.invalid
origin_args=(-DKX_ASSET_SERVER_ORIGIN="${KX_ASSET_SERVER_ORIGIN:-$placeholder_asset_origin}"
    -DKX_INFO_SERVICE_ORIGIN="${KX_INFO_SERVICE_ORIGIN:-$placeholder_info_origin}")
