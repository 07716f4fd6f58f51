#include "sim/camera.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr std::uint64_t kUsPerMs = 1000;

std::string requestName(const std::uint8_t* in) {
    return std::string(reinterpret_cast<const char*>(in + 12), 8);
}

bool requestExtensionIsJpg(const std::uint8_t* in) {
    return in[20] == 'J' && in[21] == 'P' && in[22] == 'G' && in[23] == 0;
}

} // namespace

Camera::Camera(Card& card, Faults faults)
    : card_(card), faults_(faults), clock_(&platform::systemClock()) {}

const Transcript& Camera::transcript() const {
    return transcript_;
}

bool Camera::present() const {
    return !faults_.unplugged;
}

void Camera::note(const std::string& what, bool ok) {
    Event e;
    e.kind = Event::Kind::Call;
    e.atMs = clock_->nowMs();
    e.what = what;
    e.ok = ok;
    transcript_.add(std::move(e));
}

// ---- time and line ----

std::uint64_t Camera::usAt(std::uint32_t ms) {
    if (!timeKnown_) {
        timeKnown_ = true;
        baseMs_ = lastMs_ = ms;
    }
    const std::int32_t diff = std::int32_t(ms - lastMs_);
    const std::int64_t total = std::int64_t(lastTotalMs_) + diff;
    if (diff > 0) {
        lastTotalMs_ = std::uint64_t(total);
        lastMs_ = ms;
    }
    return total < 0 ? 0 : std::uint64_t(total) * kUsPerMs;
}

std::uint32_t Camera::msOf(std::uint64_t us) const {
    return std::uint32_t(baseMs_ + std::uint32_t((us + kUsPerMs - 1) / kUsPerMs));
}

std::uint64_t Camera::send(const std::vector<std::uint8_t>& bytes, std::uint64_t fromUs) {
    const std::uint64_t start = std::max(fromUs, lineFreeUs_);
    std::uint64_t last = start;
    Event e;
    e.kind = Event::Kind::ToHost;
    e.bytes = bytes;
    for (std::size_t j = 0; j < bytes.size(); ++j) {
        if (faults_.paced) {
            // Byte j has fully arrived after (j + 1) byte times.
            const std::uint64_t bits = std::uint64_t(j + 1) * kBitsPerByte * 1000000;
            last = start + (bits + kBaud - 1) / kBaud;
        }
        if (!muted_)
            out_.push_back({bytes[j], last});
        if (j == 0)
            e.atMs = msOf(last);
    }
    if (!muted_) {
        lineFreeUs_ = last;
        if (!bytes.empty())
            transcript_.add(std::move(e));
    }
    return last;
}

std::size_t Camera::serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                                 std::uint32_t* lastAtMs) {
    const std::uint64_t by = usAt(byMs);
    std::size_t n = 0;
    while (n < max && !out_.empty() && out_.front().readyUs <= by) {
        out[n++] = out_.front().byte;
        if (lastAtMs)
            *lastAtMs = msOf(out_.front().readyUs);
        out_.pop_front();
    }
    return n;
}

bool Camera::nextSerialAt(std::uint32_t* atMs) const {
    if (out_.empty())
        return false;
    *atMs = msOf(out_.front().readyUs);
    return true;
}

// ---- serial protocol ----

void Camera::serialFromHost(const std::uint8_t* data, std::size_t count, std::uint32_t atMs) {
    const std::uint64_t us = usAt(atMs);
    Event e;
    e.kind = Event::Kind::FromHost;
    e.atMs = atMs;
    e.bytes.assign(data, data + count);
    transcript_.add(std::move(e));
    if (faults_.unplugged)
        return;
    for (std::size_t i = 0; i < count; ++i)
        onHostByte(data[i], us);
}

void Camera::onHostByte(std::uint8_t byte, std::uint64_t us) {
    const std::uint64_t gap = us - std::min(us, lastHostByteUs_);
    lastHostByteUs_ = us;
    if (nameMode_ && (byte >= 0x80 || gap > kNameGapMs * kUsPerMs))
        nameMode_ = false; // the host gave up on the selection
    if (nameMode_) {
        name_.push_back(byte);
        if (name_.size() == kSelectNameSize)
            onNameComplete(us);
        return;
    }
    onCommand(byte, us);
}

std::uint64_t Camera::replyDelayUs() const {
    const bool slow = !faults_.slowCommands.active() || faults_.slowCommands.hits(commands_);
    return slow ? faults_.replyDelayMs * kUsPerMs : 0;
}

std::uint64_t Camera::acknowledge(std::uint64_t us) {
    const std::uint64_t ackAt = send({RSP_ACK}, us + replyDelayUs());
    return ackAt + faults_.statusDelayMs * kUsPerMs;
}

std::uint8_t Camera::nextStatusFault() {
    ++statusReplies_;
    return faults_.status.hits(statusReplies_) ? faults_.statusByte : 0;
}

void Camera::onCommand(std::uint8_t command, std::uint64_t us) {
    ++commands_;
    Event e;
    e.kind = Event::Kind::Command;
    e.atMs = msOf(us);
    e.bytes = {command};
    transcript_.add(std::move(e));
    muted_ = faults_.noAck.hits(commands_);
    if (command != CMD_CATALOGUE)
        catalogueOpen_ = false;
    switch (command) {
    case CMD_PROBE:
        send({faults_.probeReply}, us + replyDelayUs());
        break;
    case CMD_CATALOGUE:
        onCatalogue(us);
        break;
    case CMD_SELECT_FILE:
        ++selections_;
        selected_ = false;
        acknowledge(us);
        nameMode_ = true;
        name_.clear();
        break;
    case CMD_DELETE_FILE:
        onDelete(us);
        break;
    case CMD_NEXT_BLOCK:
    case CMD_REPEAT_BLOCK:
        onBlock(command == CMD_REPEAT_BLOCK, us);
        break;
    default:
        break; // not a command this camera knows: no reply
    }
    muted_ = false;
}

std::vector<Camera::Entry> Camera::buildCatalogue(bool empty) const {
    std::vector<Entry> entries;
    if (empty)
        return entries;
    const auto& pictures = card_.pictures();
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const CardPicture& p = pictures[i];
        Entry entry{};
        std::memcpy(entry.data(), p.entryName.data(), 8);
        writeLe32(entry.data() + 8, std::uint32_t(i + 1));
        writeLe16(entry.data() + 12, p.width);
        writeLe16(entry.data() + 14, p.height);
        writeLe32(entry.data() + 16, p.fullSize);
        entries.push_back(entry);
        if (faults_.duplicateEntry >= 0 && std::size_t(faults_.duplicateEntry) == i)
            entries.push_back(entry);
    }
    if (faults_.fileSize)
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (faults_.fileSizeEntry < 0 || std::size_t(faults_.fileSizeEntry) == i)
                writeLe32(entries[i].data() + 16, *faults_.fileSize);
    return entries;
}

void Camera::onCatalogue(std::uint64_t us) {
    const bool continuing =
        catalogueOpen_ && us <= catalogueTrailerUs_ + kCatalogueContinueMs * kUsPerMs;
    catalogueOpen_ = false;
    if (!continuing) {
        ++catalogueReads_;
        catalogue_ = buildCatalogue(catalogueReads_ <= faults_.emptyCatalogues);
        place_ = 0;
        group_ = 0;
    }
    ++group_;
    const std::uint64_t statusAt = acknowledge(us);
    if (const std::uint8_t fault = nextStatusFault()) {
        send({fault}, statusAt);
        return;
    }
    std::size_t count = std::min(kGroupMax, catalogue_.size() - place_);
    std::uint8_t countByte = std::uint8_t(count);
    if (faults_.groupCount && (faults_.groupCountGroup == 0 || faults_.groupCountGroup == group_)) {
        countByte = *faults_.groupCount;
        count = countByte == 0xFF ? 0 : countByte;
    }
    std::vector<std::uint8_t> reply = {ST_DATA, countByte};
    for (std::size_t i = 0; i < count; ++i) {
        Entry entry{};
        if (!catalogue_.empty())
            entry = catalogue_[(place_ + i) % catalogue_.size()];
        reply.insert(reply.end(), entry.begin(), entry.end());
    }
    place_ = std::min(catalogue_.size(), place_ + count);
    const bool more = place_ < catalogue_.size() && count > 0;
    reply.push_back(more ? ST_MORE : ST_CATALOGUE_END);
    catalogueTrailerUs_ = send(reply, statusAt);
    catalogueOpen_ = more;
}

void Camera::onNameComplete(std::uint64_t us) {
    nameMode_ = false;
    selectedName_.assign(name_.begin(), name_.begin() + 8);
    const bool extension = name_[8] == 'J' && name_[9] == 'P' && name_[10] == 'G';
    selected_ =
        extension && isPictureName(selectedName_) && card_.readFile(selectedName_, selectedData_);
    if (!selected_)
        selectedData_.clear();
    lastBlock_ = -1;
    blockSends_.clear();
    muted_ = faults_.noNameAck.hits(selections_);
    send({RSP_ACK}, us + replyDelayUs());
    muted_ = false;
}

void Camera::onDelete(std::uint64_t us) {
    const std::uint64_t statusAt = acknowledge(us);
    std::uint8_t status = nextStatusFault();
    if (!status) {
        status = selected_ && card_.removePicture(selectedName_) ? ST_DATA : ST_CARD_ACCESS_FAILED;
        if (status == ST_DATA) {
            selected_ = false;
            cachedName_.clear();
        }
    }
    send({status}, statusAt);
}

void Camera::onBlock(bool repeat, std::uint64_t us) {
    const std::int64_t index = repeat ? std::max<std::int64_t>(lastBlock_, 0) : lastBlock_ + 1;
    lastBlock_ = index;
    const std::uint64_t statusAt = acknowledge(us);
    std::uint8_t status = nextStatusFault();
    const std::uint64_t offset = std::uint64_t(index) * kSerialBlockSize;
    if (!status && (!selected_ || offset >= selectedData_.size()))
        status = ST_CARD_ACCESS_FAILED;
    if (status) {
        send({status}, statusAt);
        return;
    }
    const std::uint32_t sends = ++blockSends_[index];
    std::vector<std::uint8_t> reply(1 + kSerialBlockSize + 1, 0);
    reply[0] = ST_DATA;
    const std::size_t available =
        std::min<std::size_t>(kSerialBlockSize, selectedData_.size() - std::size_t(offset));
    std::copy_n(selectedData_.begin() + std::ptrdiff_t(offset), available, reply.begin() + 1);
    if (faults_.shortBlock == index && sends <= faults_.shortBlockTimes) {
        reply.resize(1 + std::min<std::size_t>(faults_.shortBlockBytes, kSerialBlockSize - 1));
    } else {
        const bool bad = faults_.badTrailerBlock == index && sends <= faults_.badTrailerTimes;
        reply.back() = bad ? ST_BLOCK_BAD : ST_BLOCK_OK;
    }
    send(reply, statusAt);
}

// ---- USB face ----

bool Camera::escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                    std::uint32_t outSize, std::uint32_t* delivered) {
    std::uint32_t done = 0;
    const auto* input = static_cast<const std::uint8_t*>(in);
    auto* output = static_cast<std::uint8_t*>(out);
    if (!input)
        inSize = 0;
    if (!output)
        outSize = 0;
    bool ok = false;
    if (!faults_.unplugged) {
        if (faults_.escapeDelayMs)
            clock_->sleepMs(faults_.escapeDelayMs);
        switch (code) {
        case CAM_ESC_CATALOGUE_SIZE:
        case CAM_ESC_CATALOGUE_BLOCK:
            ok = usbCatalogue(code == CAM_ESC_CATALOGUE_SIZE ? nullptr : input, inSize, output,
                              outSize, &done);
            break;
        case CAM_ESC_READ_FILE:
            ok = usbReadFile(input, inSize, output, outSize, &done);
            break;
        case CAM_ESC_RECOVER:
            ok = inSize >= 4;
            break;
        case CAM_ESC_DELETE_FILE:
            ok = usbDelete(input, inSize, output, outSize, &done);
            break;
        default:
            break;
        }
    }
    if (delivered)
        *delivered = done;
    Event e;
    e.kind = Event::Kind::Escape;
    e.atMs = clock_->nowMs();
    e.code = code;
    e.bytes.assign(input, input + inSize);
    e.outSize = outSize;
    e.delivered = done;
    e.ok = ok;
    e.locked = locked_;
    transcript_.add(std::move(e));
    return ok;
}

bool Camera::usbCatalogue(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                          std::uint32_t outSize, std::uint32_t* delivered) {
    if (!in) { // the size escape starts a catalogue read
        if (outSize < 4 || nextStatusFault())
            return false;
        ++catalogueReads_;
        usbCatalogue_ = buildCatalogue(catalogueReads_ <= faults_.emptyCatalogues);
        usbCatalogueRead_ = true;
        const std::size_t blocks = (usbCatalogue_.size() + kGroupMax - 1) / kGroupMax;
        std::uint32_t length =
            std::uint32_t(blocks * kCatalogueBlockHead + usbCatalogue_.size() * kEntrySize);
        if (faults_.catalogueSize)
            length = *faults_.catalogueSize;
        writeLe32(out, length);
        *delivered = 4;
        return true;
    }
    if (inSize < kEscapeRequestSize || outSize < kCatalogueBlockSize || nextStatusFault())
        return false;
    const std::uint32_t offset = readLe32(in + 4);
    const std::uint32_t length = readLe32(in + 8);
    if (offset % kCatalogueBlockSize != 0 || length < kCatalogueBlockSize)
        return false;
    if (!usbCatalogueRead_) {
        usbCatalogue_ = buildCatalogue(false);
        usbCatalogueRead_ = true;
    }
    const std::size_t block = offset / kCatalogueBlockSize;
    const std::size_t blocks = (usbCatalogue_.size() + kGroupMax - 1) / kGroupMax;
    const std::size_t first = std::min(usbCatalogue_.size(), block * kGroupMax);
    const std::size_t count = std::min(kGroupMax, usbCatalogue_.size() - first);
    std::memset(out, 0, kCatalogueBlockSize);
    writeLe16(out, std::uint32_t(block));
    writeLe16(out + 2, std::uint32_t(blocks));
    writeLe16(out + 4, std::uint32_t(usbCatalogue_.size()));
    std::memcpy(out + 6, "LVCB", 4);
    out[10] = std::uint8_t(count);
    out[11] = block + 1 < blocks ? 1 : 0;
    if (faults_.usbBlockCount &&
        (faults_.usbBlockCountBlock < 0 || std::size_t(faults_.usbBlockCountBlock) == block))
        out[10] = *faults_.usbBlockCount;
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(out + kCatalogueBlockHead + i * kEntrySize, usbCatalogue_[first + i].data(),
                    kEntrySize);
    *delivered = kCatalogueBlockSize;
    return true;
}

bool Camera::usbReadFile(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                         std::uint32_t outSize, std::uint32_t* delivered) {
    if (inSize < kEscapeRequestSize)
        return false;
    ++readEscapes_;
    if (nextStatusFault() || faults_.usbReadFail.hits(readEscapes_))
        return false;
    const std::uint32_t offset = readLe32(in + 4);
    const std::uint32_t length = readLe32(in + 8);
    const std::string name = requestName(in);
    if (!requestExtensionIsJpg(in))
        return false;
    if (name != cachedName_) {
        cachedName_.clear();
        if (!card_.readFile(name, cachedData_))
            return false;
        cachedName_ = name;
    }
    if (offset >= cachedData_.size())
        return false;
    std::uint32_t n =
        std::min<std::uint32_t>({length, outSize, std::uint32_t(cachedData_.size() - offset)});
    if (faults_.usbReadShort.hits(readEscapes_))
        n = std::min(n, faults_.usbShortBytes ? faults_.usbShortBytes : length / 2);
    std::memcpy(out, cachedData_.data() + offset, n);
    *delivered = n;
    return true;
}

bool Camera::usbDelete(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                       std::uint32_t outSize, std::uint32_t* delivered) {
    if (inSize < kEscapeRequestSize || nextStatusFault() || !requestExtensionIsJpg(in))
        return false;
    if (!card_.removePicture(requestName(in)))
        return false;
    cachedName_.clear();
    if (outSize >= 4) {
        writeLe32(out, 0);
        *delivered = 4;
    }
    return true;
}

bool Camera::deviceCall(const char* what, const Occurrences& fault, std::uint32_t& calls,
                        bool allowed) {
    ++calls;
    const bool ok = !faults_.unplugged && allowed && !fault.hits(calls);
    note(what, ok);
    return ok;
}

bool Camera::lockDevice(std::uint32_t) {
    const bool ok = deviceCall("LockDevice", faults_.lockFail, lockCalls_, !locked_);
    if (ok)
        locked_ = true;
    return ok;
}

bool Camera::unlockDevice() {
    std::uint32_t calls = 0;
    const bool ok = deviceCall("UnLockDevice", {}, calls, locked_);
    locked_ = false;
    return ok;
}

bool Camera::subscribe() {
    const bool ok = deviceCall("Subscribe", faults_.subscribeFail, subscribeCalls_, true);
    if (ok)
        subscribed_ = true;
    return ok;
}

bool Camera::unsubscribe() {
    std::uint32_t calls = 0;
    const bool ok = deviceCall("UnSubscribe", {}, calls, subscribed_);
    subscribed_ = false;
    return ok;
}

bool Camera::resetDevice() {
    return deviceCall("DeviceReset", faults_.resetFail, resetCalls_, true);
}

bool Camera::getStatus() {
    return deviceCall("GetStatus", faults_.statusQueryFail, statusCalls_, true);
}

} // namespace sim
