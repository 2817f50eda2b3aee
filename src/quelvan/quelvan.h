#pragma once
// Quelvan: Modbus RTU and ASCII over serial lines. Include this one header to use the suite.

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/form_stream.h"
#include "quelvan/bit_packing.h"
#include "quelvan/component_registration.h"
#include "quelvan/enum_serial_ports.h"
#include "quelvan/errors.h"
#include "quelvan/file_record.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/item_map.h"
#include "quelvan/item_values.h"
#include "quelvan/modbus_buffer.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "quelvan/transaction.h"

namespace quelvan {
// The platform pieces an application touches, under the library's namespace.
using platform::Application;
using platform::EAbort;
using platform::EAssertionFailed;
using platform::EOSError;
using platform::Exception;
}  // namespace quelvan
