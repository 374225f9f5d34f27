#pragma once

// The logger thread "fw_queueread": creates the logging queue and writes
// every message it receives as one line of the log file. Its members belong
// to XELO_Framework_ex (xelo_framework.h).

constexpr const char* FRAMEWORK_LOGGER_FILE = "/tmp/framework_logger.log";
constexpr int FRAMEWORK_QUEUE_MESSAGE_SIZE = 20;
constexpr int FRAMEWORK_QUEUE_CAPACITY = 1000;

void* QueueReaderThreadStartup(void* framework);
