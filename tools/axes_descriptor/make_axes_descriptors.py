#!/usr/bin/env python3
"""Writes the example application descriptors of an axes manager (examples/axmand/),
or one descriptor for a list of axes.

Each descriptor declares, for manager 0: the manager's variables and command
channel "axmngr_0", and per axis its cyclic variables (at the byte offsets of
the simulated drive's default PDO mapping), its asynchronous drive variables
(object index, subindex, size) and its command and answer data.

    tools/axes_descriptor/make_axes_descriptors.py [output directory]
    tools/axes_descriptor/make_axes_descriptors.py --axes schneider:1001,yaskawa:1002 --out file.xml
"""
import os
import sys

TYPE_CODES = {"virtual": 0, "schneider": 1, "omron": 2, "infranor": 3, "yaskawa": 4, "festo": 5, "ingenia": 6}

# Slave inputs (TxPDO of the simulated drive) and outputs (RxPDO): suffix, type, byte offset.
TX_COMMON = [("status_word", "uint16", 0), ("actual_pos", "int32", 2), ("actual_vel", "int32", 6),
             ("actual_torque_std", "int16", 10), ("op_mode_display", "int8", 12)]
TX_EXTRA = {
    "festo": [("error_code", "uint32", 13), ("positive_limit_switch_detected", "uint8", 17),
              ("negative_limit_switch_detected", "uint8", 18)],
    "ingenia": [("error_code", "int32", 13), ("actual_current_std", "int16", 17),
                ("digital_output_read", "uint32", 19)],
}
RX_EXTRA = {
    "festo": [("iface_iprec1", "int32", 13)],
    "ingenia": [("iface_digital_output_write", "uint32", 13)],
}
VIRTUAL_AXIS_INPUTS = [("actual_pos", "int32"), ("actual_vel", "int32"), ("status_word", "uint16"),
                       ("error_code", "uint16")]
ERROR_OBJECT = {"festo": ("2FF1", 4), "ingenia": ("2E00", 4)}

# Asynchronous outputs of the operation modes: suffix, object, subindex, type, size.
MODE_OUTPUTS = [
    ("profile_pos_target_pos", "607A", 0, "int32", 4),
    ("profile_pos_vel", "6081", 0, "uint32", 4),
    ("profile_pos_acc", "6083", 0, "uint32", 4),
    ("profile_pos_dec", "6084", 0, "uint32", 4),
    ("profile_vel_target_vel", "60FF", 0, "int32", 4),
    ("profile_vel_target_acc", "6083", 0, "uint32", 4),
    ("profile_vel_target_dec", "6084", 0, "uint32", 4),
    ("homing_method", "6098", 0, "int8", 1),
    ("homing_switch_vel", "6099", 1, "uint32", 4),
    ("homing_zero_vel", "6099", 2, "uint32", 4),
    ("homing_acc", "609A", 0, "uint32", 4),
]
# Command data that travel with a motion request without an asynchronous variable.
PLAIN_COMMAND_DATA = [("profile_pos_is_relative_move", "int8"), ("profile_pos_change_set_immediately", "int8"),
                      ("homing_dec", "uint32")]
# Information (asynchronous inputs) and configuration (asynchronous outputs) per family.
INFO = {
    "schneider": [("info_maximum_velocity", "607F", 0, "uint32", 4),
                  ("info_maximum_acceleration", "60C5", 0, "uint32", 4),
                  ("info_preferred_homing_method", "6098", 0, "int16", 1)],
    "festo": [("info_max_vel_1", "2FF3", 0, "float", 4), ("info_max_acc_2", "60C5", 0, "uint32", 4),
              ("info_preferred_homing_method", "6098", 0, "int8", 1),
              ("info_preferred_homing_vel", "6099", 2, "uint32", 4),
              ("info_preferred_homing_acc", "609A", 0, "uint32", 4),
              ("info_preferred_homing_switch_vel", "6099", 1, "uint32", 4),
              ("info_pos_resolution", "2FF4", 1, "int8", 1), ("info_vel_resolution", "2FF4", 2, "int8", 1),
              ("info_acc_resolution", "2FF4", 3, "int8", 1), ("info_user_unit", "2FF4", 4, "uint32", 4)],
    "ingenia": [("info_maximum_velocity", "607F", 0, "uint32", 4),
                ("info_maximum_acceleration", "60C5", 0, "uint32", 4),
                ("info_rated_current", "6075", 0, "uint32", 4), ("info_maximum_current", "2110", 0, "float", 4)],
}
CFG = {
    "schneider": [("cfg_data_quick_stop_option", "605A", 0, "int16", 2)],
    "ingenia": [("cfg_data_maximum_current", "2110", 0, "float", 4)],
}
RESERVED = """    <virtual_io name_virtual="is_ethercat_master_online" type="uint8" group_id="-1" is_ro="1" is_negated="0" default_value="0"/>
    <virtual_io name_virtual="last_ethercat_master_error_type" type="int16" group_id="-1" is_ro="1" is_negated="0" default_value="0"/>
    <virtual_io name_virtual="last_ethercat_master_error_code" type="int16" group_id="-1" is_ro="1" is_negated="0" default_value="0"/>
    <virtual_io name_virtual="last_ethercat_master_error_msg" type="uint8_array[0..n]" byte_dimension="100" group_id="-1" is_ro="1" is_negated="0"/>
    <virtual_io name_virtual="enable_refresh_logging" type="uint8" group_id="-1" is_ro="0" is_negated="0" default_value="0"/>
    <virtual_io name_virtual="enable_sem_data_logging" type="uint8" group_id="-1" is_ro="0" is_negated="0" default_value="0"/>
"""
SIZES = {"bit": 1, "int8": 1, "uint8": 1, "int16": 2, "uint16": 2, "int32": 4, "uint32": 4, "float": 4, "double": 8}


def cyclic(kind, name, type_, slave, offset, group=-1):
    physic = name.split("_", 4)[4]  # the suffix after axmngr_<m>_ax_<n>_
    return (f'    <{kind} name_physic="Drive{slave}.{physic}" name_virtual="{name}" slave_address="{slave}" '
            f'byte_offset="{offset}" bit_offset="0" byte_dimension="{SIZES[type_]}" type="{type_}" group_id="{group}" '
            f'is_ro="0" is_negated="0"' + (' default_value="0"/>\n' if kind == "output" else '/>\n'))


def virtual(name, type_, default, read_only):
    return (f'    <virtual_io name_virtual="{name}" type="{type_}" group_id="-1" is_ro="{1 if read_only else 0}" '
            f'is_negated="0" default_value="{default}"/>\n')


def async_io(kind, name, slave, index, subindex, type_, object_size):
    # The framework's variable is as large as its type; an upload of a smaller
    # object fills its low bytes, a download sends the object's own size.
    size = SIZES[type_]
    if kind == "output" and object_size != size:
        raise ValueError(f"{name}: a {type_} cannot be written to a {object_size}-byte object")
    return (f'    <async_{kind} name_physic="Drive{slave}.{index}.{subindex}" name_virtual="{name}" '
            f'slave_address="{slave}" index_hex="{index}" subindex="{subindex}" data_dimension="{size}" '
            f'type="{type_}"/>\n')


def datum(name, type_):
    return f'      <sem_data data_name="{name}" type="{type_}"/>\n'


def descriptor(axes, cycle_ns=1000000, manager=0):
    """axes: list of (family, slave address)."""
    p = f"axmngr_{manager}"
    outputs, inputs, virtuals, async_out, async_in = "", "", RESERVED, "", ""
    sender, receiver = datum("cmd_value", "int8"), datum("resp_value", "int8")
    virtuals += virtual(p + "_axes_number", "int8", len(axes), True)
    virtuals += virtual(p + "_is_last_command_completed", "bit", 0, False)
    virtuals += virtual(p + "_is_in_error", "bit", 0, False)
    virtuals += virtual(p + "_first_axis_in_error", "int8", 0, False)
    virtuals += virtual(p + "_status", "int8", 3, False)
    virtuals += virtual(p + "_error_code", "int8", 0, False)
    for n, (family, slave) in enumerate(axes):
        a = f"{p}_ax_{n}"
        virtuals += virtual(a + "_type", "int8", TYPE_CODES[family], True)
        virtuals += virtual(a + "_status", "int8", -4, False)
        for factor in ("pos_raw_per_unit", "vel_raw_per_unit", "acc_raw_per_unit"):
            virtuals += virtual(a + "_" + factor, "double", 1000, True)
        sender += datum(f"ax_{n}_op_mode", "int8")
        if family == "virtual":
            # No drive: the values that the manager's clients read of every axis.
            for suffix, type_ in VIRTUAL_AXIS_INPUTS:
                virtuals += virtual(a + "_" + suffix, type_, 0, False)
            continue
        error = [("error_code", "uint16", 13)] if family not in TX_EXTRA else []
        for suffix, type_, offset in TX_COMMON + error + TX_EXTRA.get(family, []):
            inputs += cyclic("input", a + "_" + suffix, type_, slave, offset)
        outputs += cyclic("output", a + "_control_word", "uint16", slave, 0)
        # The outputs that the client library writes form one output group per axis.
        for suffix, type_, offset in RX_EXTRA.get(family, []):
            outputs += cyclic("output", a + "_" + suffix, type_, slave, offset, n + 1)
        error_index, error_size = ERROR_OBJECT.get(family, ("603F", 2))
        async_out += async_io("output", a + "_operation_mode", slave, "6060", 0, "int8", 1)
        async_in += async_io("input", a + "_operation_mode", slave, "6061", 0, "int8", 1)
        async_in += async_io("input", a + "_info_err_canopen_std", slave, error_index, 0, "int32", error_size)
        receiver += datum(f"ax_{n}_info_err_canopen_std", "int32")
        for suffix, index, sub, type_, size in MODE_OUTPUTS:
            async_out += async_io("output", a + "_" + suffix, slave, index, sub, type_, size)
            sender += datum(f"ax_{n}_{suffix}", type_)
        for suffix, type_ in PLAIN_COMMAND_DATA:
            sender += datum(f"ax_{n}_{suffix}", type_)
        if family == "ingenia":
            for suffix, index in (("profile_pos_target_pos", "607A"), ("profile_vel_target_vel", "60FF")):
                async_in += async_io("input", a + "_" + suffix, slave, index, 0, "int32", 4)
                receiver += datum(f"ax_{n}_{suffix}", "int32")
        for suffix, index, sub, type_, size in INFO.get(family, []):
            async_in += async_io("input", a + "_" + suffix, slave, index, sub, type_, size)
            receiver += datum(f"ax_{n}_{suffix}", type_)
        for suffix, index, sub, type_, size in CFG.get(family, []):
            async_out += async_io("output", a + "_" + suffix, slave, index, sub, type_, size)
            sender += datum(f"ax_{n}_{suffix}", type_)
    families = ", ".join(f"axis {n}: {family}" + (f" (slave {slave})" if family != "virtual" else "")
                         for n, (family, slave) in enumerate(axes))
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Axes manager {manager}: {families}.
     Written by tools/axes_descriptor/make_axes_descriptors.py. The slave
     variables sit at the offsets of the simulated drives' default PDO mapping
     (sim/cia402), the asynchronous variables name the drives' objects. -->
<application_descriptor>
  <master_cycle_time>{cycle_ns}</master_cycle_time>
  <watchdog_to_master>10</watchdog_to_master>
  <async_data_timeout_ms>500</async_data_timeout_ms>
  <linux_application_number>6</linux_application_number>

  <input_output_files_location target_path="/usr/local/etc/rtframe/" local_path="examples/axmand/"/>
  <ethercat_file>axes_eni.xml</ethercat_file>

  <outputs>
{outputs}  </outputs>

  <inputs>
{inputs}  </inputs>

  <virtual_ios>
{virtuals}  </virtual_ios>

  <async_outputs>
{async_out}  </async_outputs>

  <async_inputs>
{async_in}  </async_inputs>

  <sem_data_group>
    <sem sem_name="{p}_sender" ring_buffer="0" flag_only_not_rt="1">
{sender}    </sem>
    <sem sem_name="{p}_receiver" ring_buffer="0" flag_only_not_rt="1">
{receiver}    </sem>
  </sem_data_group>
</application_descriptor>
"""


EXAMPLES = {
    "schneider.xml": [("schneider", 1001)],
    "omron.xml": [("omron", 1001)],
    "infranor.xml": [("infranor", 1001)],
    "yaskawa.xml": [("yaskawa", 1001)],
    "festo.xml": [("festo", 1001)],
    "ingenia.xml": [("ingenia", 1001)],
    "two_axes.xml": [("schneider", 1001), ("yaskawa", 1002)],
    "omron_virtual.xml": [("omron", 1001), ("virtual", 0)],
}

if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "--axes" and sys.argv[3] == "--out":
        axes = [(item.split(":")[0], int(item.split(":")[1])) for item in sys.argv[2].split(",")]
        with open(sys.argv[4], "w") as out:
            out.write(descriptor(axes).replace("\n\n\n", "\n\n"))
        sys.exit(0)
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../examples/axmand")
    for name, axes in EXAMPLES.items():
        with open(os.path.join(directory, name), "w") as out:
            out.write(descriptor(axes).replace("\n\n\n", "\n\n"))
