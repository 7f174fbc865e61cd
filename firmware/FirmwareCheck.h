#pragma once

#include "firmware/FirmwareTransfer.h"

class CXmit;

// The firmware check after every discovery: compares the device with the
// catalogue, writes what is newer (or everything after a reload request) and
// restarts the device. 1 when the device was told to restart (the port is
// then closed and a reboot is pending), else 0. Clears g_forceUpgrade.
int CheckFirmwareAfterConnect(CXmit &xmit, const WindowInputLock &lock = {});

// "VX360SDH<hw>", the name image packages of the connected 0x82 device carry.
QString ImageDeviceName();
