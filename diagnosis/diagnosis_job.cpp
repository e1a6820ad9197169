#include "diagnosis/diagnosis_job.h"

#include <algorithm>

#include "diagnosis/boot_code.h"
#include "diagnosis/planning.h"
#include "exec/run_log.h"
#include "exec/temporary_letters.h"
#include "exec/tool_commands.h"
#include "installed/hibernation.h"
#include "installed/version_resource.h"
#include "lister/listing_line.h"
#include "partitions/partition_scan.h"
#include "platform/bytes.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "repair/installations.h"
#include "repair/repair_job.h"
#include "secureboot/boot_manager_signers.h"
#include "store/store_file.h"

namespace kestrix {

namespace {

// What the report shows of a boot file besides its size.
enum class Shown { Size, Text, Entries, Signers };
struct BootFile {
    const wchar_t* name;
    Shown shown;
};
constexpr BootFile kBootFiles[] = {{L"\\bootmgr", Shown::Size},
                                   {L"\\boot\\bcd", Shown::Entries},
                                   {L"\\ntldr", Shown::Size},
                                   {L"\\boot.ini", Shown::Text},
                                   {L"\\EFI\\Microsoft\\Boot\\BCD", Shown::Entries},
                                   {L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", Shown::Signers},
                                   {L"\\EFI\\Boot\\bootx64.efi", Shown::Signers},
                                   {L"\\EFI\\Boot\\bootia32.efi", Shown::Signers},
                                   {L"\\EFI\\Boot\\bootaa64.efi", Shown::Signers}};
// More than any boot.ini holds.
constexpr std::size_t kBootIniRead = 4096;
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
// Whole sectors for any sector size: a disk's boot code, a volume's boot area.
constexpr std::size_t kDiskStartRead = 4096;
constexpr std::size_t kBootAreaRead = 8192;

const wchar_t* FirmwareName(Firmware firmware) {
    switch (firmware) {
        case Firmware::Uefi:
            return L"UEFI";
        case Firmware::Bios:
            return L"BIOS（传统）";
        case Firmware::Unknown:
            break;
    }
    return L"未知";
}

const wchar_t* KindName(RepairKind kind) {
    return kind == RepairKind::BootSectorOnly ? L"只修复引导" : L"引导菜单修复";
}

}  // namespace

void DiagnosisJob::PlanProgress::Line(const std::wstring& line) {
    if (!line.empty()) {
        job_.Line(L"  " + line);
    }
}

MessageAnswer DiagnosisJob::PlanProgress::Ask(const std::wstring& question) {
    job_.Line(L"  ？这里会询问用户：" + ReplaceAll(question, L"\r", L" ") +
              L"（诊断不作回答，计划到此为止）");
    return MessageAnswer::Cancel;
}

void DiagnosisJob::Line(const std::wstring& line) {
    report_.push_back(line);
    progress_->Line(line);
}

RepairOutcome DiagnosisJob::Run(RepairProgress& progress) {
    progress_ = &progress;
    report_.clear();
    reportPath_.clear();
    Line(L"Kestrix 诊断报告（只读取，不写入任何磁盘）");
    Machine();
    const auto drives = volumes_.DriveEntries();
    const auto candidates = Disks();
    const bool nothingRead = drives.empty() && !candidates;
    VolumeFiles(drives);
    Installations(drives);
    FirmwareEntries();
    if (request_.only) {
        Plans({{*request_.only, BootPath::Bios, L""}}, drives);
    } else {
        Plans(candidates.value_or(std::vector<BootCandidate>{}), drives);
    }
    if (stopRequested_) {
        return RepairOutcome::Interrupted;
    }
    const bool saved = Save();
    if (nothingRead) {
        return RepairOutcome::NothingWritten;
    }
    return saved ? RepairOutcome::Succeeded : RepairOutcome::StepsFailed;
}

void DiagnosisJob::Machine() {
    Line(L"");
    Line(L"== 本机 ==");
    const auto reading = firmware_.RunningFirmware();
    started_ = reading.firmware;
    Line(std::wstring(L"启动方式：") + FirmwareName(started_) +
         (reading.error != 0 ? Reason({false, reading.error, reading.errorText}) : L""));
    const auto running = NameKernel(files_, JoinPath(files_.SystemFolder(), L"ntoskrnl.exe"));
    Line(L"正在运行的 Windows：" +
         (running ? running->name : L"无法识别（读不到 ntoskrnl.exe 的版本）"));
    trust_ = ReadFirmwareTrust(firmware_);
    for (const auto& line : TrustLines(trust_)) {
        Line(line);
    }
    Line(L"程序目录：" + files_.OwnFolder());
}

std::optional<std::vector<BootCandidate>> DiagnosisJob::Disks() {
    Line(L"");
    Line(L"== 磁盘与分区 ==");
    std::vector<BootCandidate> candidates;
    const auto listings = ReadDiskListings(runner_);
    if (listings.failure) {
        Line(L"无法运行分区列表工具 " + listings.failure->file + L"：" +
             RunProblem(*listings.failure));
        return std::nullopt;
    }
    for (std::size_t disk = 0; disk < listings.disks.size(); ++disk) {
        // Each partition, and what the scan would make of it when that is not plain.
        std::vector<std::pair<ListedPartition, std::wstring>> partitions;
        bool lastDisk = false;
        for (const auto& line : listings.disks[disk]) {
            const auto normalised = NormaliseListingLine(line);
            lastDisk = lastDisk || normalised == kOpenDiskError;
            if (lastDisk) {
                break;
            }
            auto partition = ReadListedPartition(line);
            if (!partition || !partition->whole) {
                continue;
            }
            std::wstring note;
            if (auto candidate = CandidateFor(*partition)) {
                if (volumes_.MediaOf(candidate->drive) != DriveMedia::Fixed) {
                    note = L"（可移动介质，修复不会自动选它）";
                } else {
                    candidates.push_back(std::move(*candidate));
                }
            } else if (UnletteredEfiPartitionFor(*partition)) {
                note = L"（没有盘符的EFI系统分区：修复时会临时分配盘符，诊断不分配）";
            }
            partitions.emplace_back(std::move(*partition), std::move(note));
        }
        if (lastDisk && partitions.empty()) {
            break;
        }
        const auto name = L"磁盘 " + DecimalText(static_cast<long long>(disk));
        if (partitions.empty()) {
            Line(name + L"：没有列出分区");
            continue;
        }
        Line(name + L"（" + (ToLower(partitions.front().first.scheme) == L"gpt" ? L"GPT" : L"MBR") +
             L"）：");
        std::string start;
        const auto read = volumes_.ReadDiskStart(static_cast<int>(disk), kDiskStartRead, start);
        Line(L"  主引导代码：" + (read ? NameBootCode(start).name : L"无法读取" + Reason(read)));
        for (const auto& [p, note] : partitions) {
            Line(L"  分区 " + p.number + L"：" + (p.active ? L"活动，" : L"") + L"类型 " + p.type +
                 L"，" + p.sizeMiB + L" MB，" + (p.drive == L"-" ? L"无盘符" : p.drive) +
                 (p.fileSystem == L"-" ? L"" : L"，" + p.fileSystem) +
                 (p.label == L"-" ? L"" : L"，卷标 " + p.label) + note);
        }
        if (lastDisk) {
            break;
        }
    }
    return candidates;
}

void DiagnosisJob::VolumeFiles(const std::vector<DriveEntry>& drives) {
    Line(L"");
    Line(L"== 卷 ==");
    for (const auto& entry : drives) {
        if (request_.only && !entry.drive.Is(*request_.only)) {
            continue;
        }
        Line(entry.Text() + L"：");
        std::string start;
        const auto read = volumes_.ReadVolumeStart(entry.drive, kBootAreaRead, start);
        Line(L"  引导记录：" +
             (read ? NameVolumeBootRecord(start).name : L"无法读取" + Reason(read)));
        bool any = false;
        for (const auto& [name, shown] : kBootFiles) {
            const auto path = entry.drive.Path(name);
            const auto length = files_.FileLength(path);
            if (!length) {
                continue;
            }
            any = true;
            Line(L"  " + std::wstring(name) + L"  " + DecimalText(*length) + L" 字节");
            if (shown == Shown::Signers) {
                std::string bytes;
                const auto read = files_.ReadWholeFile(path, bytes);
                const auto version = read ? DecodeVersionResource(bytes) : std::nullopt;
                Line(L"    版本：" + (version ? FileVersionText(version->fileVersion)
                                      : read  ? L"没有版本信息"
                                              : L"无法读取" + Reason(read)));
                const auto signers = read ? SignersOf(bytes) : std::nullopt;
                Line(L"    签名：" + (signers ? SignersText(*signers) : L"无法读取"));
                Line(L"    固件判定：" +
                     VerdictText(read ? JudgeImage(bytes, trust_.databases, signatures_)
                                      : ImageVerdict{}));
            }
            std::string text;
            if (shown == Shown::Text && files_.ReadFileStart(path, kBootIniRead, text)) {
                Quote(FromUtf8(text));
            }
            if (shown == Shown::Entries) {
                StoreEntries(path, entry.drive);
            }
        }
        if (!any) {
            Line(L"  没有引导文件");
        }
    }
    // The running Windows' store on a partition without a letter (an ESP, usually): only the
    // copy Windows has loaded can be read.
    if (!request_.only && !volumes_.SystemStorePath()) {
        if (const auto store = ReadBcd(heldStore_)) {
            Line(
                L"正在运行的 Windows 加载的存储（所在分区没有盘符，从注册表 HKLM\\BCD00000000 "
                L"读取）：");
            StoreObjects(*store, false, std::nullopt);
        }
    }
}

void DiagnosisJob::Quote(std::wstring_view text) {
    for (const auto& line : SplitLines(text)) {
        if (!TrimSpaces(line).empty()) {
            Line(L"    | " + line);
        }
    }
}

void DiagnosisJob::StoreEntries(const std::wstring& path, DriveLetter drive) {
    const auto read = ReadStoreAt(files_, volumes_, heldStore_, path);
    if (read.held) {
        Line(L"    （正在运行的 Windows 加载的存储，从注册表 HKLM\\BCD00000000 读取）");
    }
    if (!read.read) {
        Line(L"    无法读取" + Reason(read.read));
    } else if (!read.store) {
        Line(read.hive ? L"    无法解读：是注册表文件，但没有启动配置（Objects）"
                       : L"    无法解读：不是注册表文件，或已损坏");
    } else {
        StoreObjects(*read.store, read.dirty, drive);
    }
}

namespace {

const wchar_t* KindText(BcdKind kind) {
    switch (kind) {
        case BcdKind::BootManager:
            return L"Windows 启动管理器";
        case BcdKind::FirmwareBootManager:
            return L"固件启动管理器";
        case BcdKind::WindowsLoader:
            return L"Windows 启动加载器";
        case BcdKind::Resume:
            return L"从休眠恢复";
        case BcdKind::MemoryTest:
            return L"内存诊断";
        case BcdKind::LegacyLoader:
            return L"旧版 Windows 加载器（NTLDR）";
        case BcdKind::BootSector:
            return L"启动扇区";
        case BcdKind::FirmwareApplication:
            return L"固件应用程序";
        default:
            return L"其他程序";
    }
}

// The object's id, and bcdedit's name for it when it is a well-known one.
std::wstring ObjectName(const std::wstring& id) {
    const auto known = WellKnownName(id);
    return known ? *known : id;
}

std::wstring Text(const BcdObject& object, std::uint32_t type) {
    const auto* element = object.Find(type);
    return element ? element->text : std::wstring();
}

}  // namespace

void DiagnosisJob::StoreObjects(const BcdStore& store, bool dirty,
                                std::optional<DriveLetter> drive) {
    std::vector<std::wstring> findings;
    if (dirty) {
        findings.push_back(
            L"该存储没有完整写入（基本块的两个序号不同）：它最新的更改在旁边的 .LOG 文件中，"
            L"上面列出的可能是旧的内容");
    }
    for (const auto& object : store.objects) {
        const auto kind = KindOf(object.type);
        if (kind == BcdKind::Settings || kind == BcdKind::DeviceOptions ||
            kind == BcdKind::Unknown) {
            continue;
        }
        const auto description = Text(object, kBcdDescription);
        Line(L"    " + ObjectName(object.id) + L"（" + KindText(kind) + L"）" +
             (description.empty() ? L"" : L"：" + description));
        if (kind == BcdKind::BootManager || kind == BcdKind::FirmwareBootManager) {
            if (const auto* chosen = object.Find(kBcdDefault)) {
                const auto* target = store.Find(chosen->text);
                Line(L"      默认：" + ObjectName(chosen->text) +
                     (target ? L"（" + Text(*target, kBcdDescription) + L"）"
                             : L"——存储中没有这个对象"));
                if (!target) {
                    findings.push_back(L"默认启动项 " + chosen->text +
                                       L" 在存储中不存在：启动管理器不知道该启动哪一个");
                }
            }
            if (const auto* order = object.Find(kBcdDisplayOrder)) {
                Line(L"      显示顺序：" +
                     DecimalText(static_cast<long long>(order->objects.size())) + L" 项");
                if (order->objects.empty()) {
                    findings.push_back(L"显示顺序是空的：启动菜单上没有任何一项");
                }
            }
            if (const auto* timeout = object.Find(kBcdTimeout);
                timeout && !timeout->integers.empty()) {
                Line(L"      超时：" +
                     DecimalText(static_cast<long long>(timeout->integers.front())) + L" 秒");
            }
        }
        const std::pair<std::uint32_t, std::uint32_t> pointers[] = {{kBcdDevice, kBcdPath},
                                                                    {kBcdOsDevice, kBcdSystemRoot}};
        for (const auto& [deviceType, pathType] : pointers) {
            const auto* element = object.Find(deviceType);
            if (!element || !element->device) {
                continue;
            }
            std::vector<std::wstring> missing;
            Line(std::wstring(L"      ") + (deviceType == kBcdDevice ? L"device" : L"osdevice") +
                 L"：" + DeviceTarget(*element->device, Text(object, pathType), drive, missing));
            for (const auto& finding : missing) {
                // device and osdevice usually name the same partition: one finding for both.
                auto line = ObjectName(object.id) +
                            (description.empty() ? L"" : L"（" + description + L"）") + finding;
                if (std::find(findings.begin(), findings.end(), line) == findings.end()) {
                    findings.push_back(std::move(line));
                }
            }
        }
    }
    for (const auto& finding : findings) {
        Line(L"    发现：" + finding);
    }
}

std::wstring DiagnosisJob::DeviceTarget(const BcdDevice& device, const std::wstring& path,
                                        std::optional<DriveLetter> storeDrive,
                                        std::vector<std::wstring>& findings) {
    std::optional<DriveLetter> drive;
    std::wstring place;
    if (device.kind == DeviceKind::Unknown) {
        return L"其他设备（" + DecimalText(static_cast<long long>(device.raw.size())) +
               L" 字节，未核对）";
    }
    if (device.kind == DeviceKind::Boot) {
        drive = storeDrive;
        place =
            L"启动设备（存储所在的" + (storeDrive ? L" " + storeDrive->Text() : L"分区") + L"）";
    } else if (device.gpt) {
        const auto found = volumes_.FindPartitionById(device.partition);
        if (!found) {
            findings.push_back(
                L"指向的分区在本机找不到：硬盘可能被克隆、更换或重新分区过。引导菜单修复会重建启动"
                L"项");
            return L"找不到这个分区（GPT 磁盘 " + GuidText(device.disk) + L" 分区 " +
                   GuidText(device.partition) + L"）";
        }
        drive = found->drive;
        place = L"磁盘 " + DecimalText(found->place.disk) + L" 分区 " +
                DecimalText(found->place.partition) + L"（" +
                (drive ? drive->Text() : L"没有盘符") + L"）";
    } else {
        const auto disk = L"MBR " + HexText(Le32(device.disk, 0), 8);
        for (const auto& entry : volumes_.DriveEntries()) {
            const auto identity = volumes_.IdentifyVolume(entry.drive);
            if (identity && identity->disk == disk && identity->start == device.offset) {
                const auto found = volumes_.FindPartition(*identity);
                drive = entry.drive;
                place = (found ? L"磁盘 " + DecimalText(found->disk) + L" 分区 " +
                                     DecimalText(found->partition)
                               : L"分区") +
                        L"（" + entry.drive.Text() + L"）";
                break;
            }
        }
        if (!drive) {
            findings.push_back(
                L"指向的分区在本机有盘符的分区中找不到：硬盘可能被克隆、更换或重新分区过。引导菜单"
                L"修复会重建启动项");
            return L"找不到这个分区（MBR 磁盘 " + HexText(Le32(device.disk, 0), 8) + L" 偏移 " +
                   DecimalText(static_cast<long long>(device.offset)) + L" 字节，或它没有盘符）";
        }
    }
    const auto file = device.ramdiskImage.empty() ? path : device.ramdiskImage;
    const auto prefix = device.ramdiskImage.empty() ? std::wstring() : L"内存盘，映像在 ";
    if (file.empty()) {
        return prefix + place;
    }
    if (!drive) {
        return prefix + place + L"，" + file + L" 未核对";
    }
    // A loader's path names a file, a system root a folder.
    std::vector<FolderEntry> entries;
    if (!files_.FileLength(drive->Path(file)) && !files_.ListFolder(drive->Path(file), entries)) {
        findings.push_back(L"的 " + file + L" 在 " + drive->Text() + L" 上不存在");
        return prefix + place + L"，" + file + L" 不存在";
    }
    return prefix + place + L"，" + file + L" 存在";
}

void DiagnosisJob::Installations(const std::vector<DriveEntry>& drives) {
    Line(L"");
    Line(L"== 已安装的 Windows ==");
    bool any = false;
    for (const auto& finding : FindInstallations(files_, volumes_, drives)) {
        if (finding.locked) {
            any = true;
            Line(finding.entry.Text() + L"：BitLocker加密卷（已锁定），无法检查其中的系统");
            continue;
        }
        if (!finding.generation) {
            continue;
        }
        any = true;
        Line(finding.entry.Text() + L"：" +
             (*finding.generation == WindowsGeneration::Nt6 ? L"Windows 6.x（Vista 及以后）"
                                                            : L"Windows 5.x（XP/2003）") +
             (finding.windows ? L"，" + finding.windows->name : L"") +
             (finding.encrypted ? L"，BitLocker加密卷" : L""));
        if (finding.hibernated) {
            Line(L"  " + std::wstring(kHibernatedWarning));
        }
    }
    if (!any) {
        Line(L"没有发现已安装的 Windows");
    }
}

void DiagnosisJob::FirmwareEntries() {
    Line(L"");
    Line(L"== 固件启动项 ==");
    if (started_ != Firmware::Uefi) {
        Line(L"本机不是以UEFI方式启动的：没有固件启动项可读");
        return;
    }
    const auto order = firmware_.ReadVariable(L"BootOrder", kGlobalVariables);
    if (!order) {
        Line(order.error == kErrorVariableNotFound
                 ? L"固件中没有 BootOrder（启动顺序）"
                 : L"无法读取 BootOrder（错误 " + DecimalText(order.error) + L"）");
        return;
    }
    const auto numbers = DecodeBootOrder(order.bytes);
    if (numbers.empty()) {
        Line(L"BootOrder 是空的：固件没有要尝试的启动项");
    }
    for (const auto number : numbers) {
        const auto name = L"Boot" + HexText(number, 4);
        const auto variable = firmware_.ReadVariable(name, kGlobalVariables);
        if (!variable) {
            Line(name + L"：无法读取（错误 " + DecimalText(variable.error) + L"）");
            continue;
        }
        const auto option = DecodeLoadOption(variable.bytes);
        if (!option) {
            Line(name + L"：无法解读（" +
                 DecimalText(static_cast<long long>(variable.bytes.size())) + L" 字节）");
            continue;
        }
        Line(name + (option->active ? L"：" : L"（未启用）：") + option->description);
        Line(L"  " + EntryTarget(*option));
    }
}

std::wstring DiagnosisJob::EntryTarget(const LoadOption& option) {
    if (option.target == LoadTarget::Firmware) {
        return L"固件内置程序";
    }
    if (option.target == LoadTarget::OtherDevice) {
        return L"其他设备（不是硬盘分区）" + (option.file.empty() ? L"" : L"上的 " + option.file);
    }
    const auto file = option.file.empty() ? std::wstring() : L" 上的 " + option.file;
    if (!option.gpt) {
        return L"MBR 磁盘 " + HexText(Le32(option.signature, 0), 8) + L" 的分区 " +
               DecimalText(option.partitionNumber) + file + L"（未核对）";
    }
    const auto partition = L"GPT 分区 " + GuidText(option.signature) + file;
    const auto found = volumes_.FindPartitionById(option.signature);
    if (!found) {
        return partition + L"——找不到这个分区";
    }
    const auto place =
        L"磁盘 " + DecimalText(found->place.disk) + L" 分区 " + DecimalText(found->place.partition);
    if (!found->drive) {
        return partition + L"（" + place + L"，没有盘符，未检查文件）";
    }
    if (!option.file.empty() && !files_.FileLength(found->drive->Path(option.file))) {
        return partition + L"——" + found->drive->Text() + L" 上没有这个文件";
    }
    return partition + L"（" + place + L"，" + found->drive->Text() + L"）";
}

void DiagnosisJob::Plans(const std::vector<BootCandidate>& candidates,
                         const std::vector<DriveEntry>& drives) {
    Line(L"");
    Line(L"== 修复计划 ==");
    Line(L"（按修复本身的步骤推演：不运行任何工具，不写入任何内容；“→”是修复会做的操作）");
    if (candidates.empty()) {
        Line(L"没有候选分区：修复时要用 -d X: 指定分区");
    } else if (candidates.size() > 1) {
        Line(L"有 " + DecimalText(static_cast<long long>(candidates.size())) +
             L" 个候选分区：修复时要在窗口中选择其中一个（-u 时不修复）");
    }
    for (const auto& candidate : candidates) {
        if (stopRequested_) {
            return;
        }
        PlanFor(candidate, drives);
    }
}

void DiagnosisJob::PlanFor(const BootCandidate& named, const std::vector<DriveEntry>& drives) {
    const auto candidate = AsItBoots(named, volumes_);
    Line(L"");
    Line(L"修复 " + candidate.drive.Text() + candidate.PathMark() + L"，" +
         KindName(request_.kind) + L"：");
    const PlanNote note = [this](const std::wstring& line) { Line(L"    → " + line); };
    PlanningFiles files(files_, note);
    PlanningVolumes volumes(volumes_, note);
    PlanningLauncher launcher(files, note);
    RunLog log(files, clock_);
    ToolRunner runner(launcher, files, log, clock_);
    TemporaryLetters letters(files, volumes, runner, log);
    RepairJob job(files, volumes, firmware_, signatures_, heldStore_, runner, log, letters);
    job.Prepare({candidate, request_.kind, drives});
    PlanProgress progress(*this);
    switch (job.Run(progress)) {
        case RepairOutcome::Succeeded:
            Line(L"  计划结果：每一步都能进行（工具本身是否成功，要到修复时才知道）");
            break;
        case RepairOutcome::StepsFailed:
            Line(L"  计划结果：有步骤会失败，见上面的“失败：”");
            break;
        case RepairOutcome::NothingWritten:
            Line(L"  计划结果：修复不会写入任何内容");
            break;
        case RepairOutcome::Cancelled:
            Line(L"  计划结果：修复要等用户回答上面的问题");
            break;
        case RepairOutcome::Interrupted:
            break;
    }
}

bool DiagnosisJob::Save() {
    std::string text = kUtf8Mark;
    for (const auto& line : report_) {
        text += ToUtf8(line) + "\r\n";
    }
    const auto stem = L"kestrix-report-" + CompactTimestamp(clock_.Now());
    for (const auto& folder : {files_.OwnFolder(), files_.TempFolder()}) {
        if (folder.empty()) {
            continue;
        }
        // A second report in the same second gets a name of its own, as run folders do.
        auto path = JoinPath(folder, stem + L".txt");
        for (int attempt = 2; attempt <= 9 && files_.Attributes(path); ++attempt) {
            path = JoinPath(folder, stem + L"-" + DecimalText(attempt) + L".txt");
        }
        if (!files_.Attributes(path) && files_.WriteNewFile(path, text)) {
            reportPath_ = path;
            progress_->Line(L"");
            progress_->Line(L"报告已保存：" + path);
            return true;
        }
    }
    progress_->Line(L"");
    progress_->Line(L"失败：报告无法保存到程序目录或临时目录");
    return false;
}

}  // namespace kestrix
