// Hands a status record to the service control manager (SetServiceStatus):
// the one place that turns the pure record into the system's structure.
#pragma once

#include "service/scm_status_table.h"

// Does nothing without a status handle (outside a service run).
void sendScmStatus(void* statusHandle, const ServiceStatusRecord& record);
