#pragma once
// pellory's link: ISP instructions as SPI bytes bit-banged through the Marlow
// cable, at the port addresses of the session's settings.

#include "engine/isp_link.h"
#include "link_lpt/spi_bitbang.h"

struct PartRecord;
struct Session;

class MarlowLink : public IspLink {
 public:
  MarlowLink(Session& session, PortBits bits);

  void sendInstruction(const IspInstruction& instruction) override;
  uint8_t queryInstruction(const IspInstruction& instruction) override;
  uint8_t enableProgramming() override;
  int waitReady() override;
  void enterProgrammingMode() override;
  void leaveProgrammingMode() override;
  void pulseReset(int32_t units) override;

  // The lines at the session's current addresses ("lptport" moves them).
  MarlowPort port() const;

 private:
  // The t_WD of the last write sent, for a part whose datasheet has no Poll
  // RDY/BSY, in delay units.
  int32_t writeWaitUnits(const PartRecord& part) const;

  Session& session_;
  PortBits bits_;
  // The first two bytes of the last instruction that starts a self-timed
  // write, so the wait after it knows which write it was.
  uint8_t lastWrite_[2] = {0, 0};
};
