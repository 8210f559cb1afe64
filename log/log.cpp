#include "log/log.h"

#include <filesystem>
#include <fstream>
#include <iostream>

// Constructed in this order, destroyed in reverse; nothing logs meanwhile.
static std::ofstream logFile;
std::ostringstream messageStream;

void WriteLogFile() {
  if (!logFile.is_open()) {
    std::filesystem::create_directories("Logs/");
    logFile.open("Logs/Log.txt", std::ios::out | std::ios::trunc);
    if (!logFile.is_open()) return;  // console only; the next message retries
    logFile.clear();
  }
  logFile << messageStream.str();
  logFile.flush();
}

void FlushMessage() {
  std::cout << messageStream.str();
  messageStream.str(std::string());
}

void ResetLog() {
  logFile.close();
  logFile.clear();
  messageStream.str(std::string());
  messageStream.clear();
}
