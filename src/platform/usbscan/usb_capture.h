// Capture of every transfer the stand-in class driver carries, as a pcap file of usbmon
// records (see usbmon_record.h). B58_CAPTURE=/path/file.pcap starts one before the first
// device lookup; tests and host programs can start and stop one at any time. Safe to use from
// any thread: bulk reads are recorded on the handles' worker threads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

// Starts writing a new capture to `path` (replacing the file), ending any capture already
// running. False when the file cannot be written; no capture runs then.
bool StartCapture(const std::string& path);
// Ends the capture and closes its file. Transfers still running are not recorded further.
void StopCapture();
bool CaptureActive();

// Recording, for the class driver. A submission returns the id its completion must be given,
// or 0 when no capture runs (a completion with id 0 records nothing).
uint64_t CaptureControlSubmit(uint8_t device, const UsbSetup& setup, const uint8_t* outData);
void CaptureControlComplete(uint64_t id, uint8_t device, const UsbSetup& setup, int32_t status,
                            const uint8_t* inData, uint32_t transferred);
uint64_t CaptureBulkInSubmit(uint8_t device, uint8_t endpoint, uint32_t length);
void CaptureBulkInComplete(uint64_t id, uint8_t device, uint8_t endpoint, int32_t status, const uint8_t* data,
                           uint32_t transferred);

}  // namespace b58::usbscan
