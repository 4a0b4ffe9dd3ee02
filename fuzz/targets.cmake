# The fuzz targets, one per parser of untrusted bytes (fuzz/<name>.cpp, seeds in fuzz/corpus/<name>/).
# Read by fuzz/CMakeLists.txt, by the ctest entries of tests/ and by scripts/fuzz.sh.
set(KIT_FUZZ_TARGETS
    profile_reader config_section dev_vrk hardware_id device_path kestrim_list setting_flags pid_ini
    driver_version instance_key config_descriptor string_descriptor sector_length firmware_file bench_file
)
