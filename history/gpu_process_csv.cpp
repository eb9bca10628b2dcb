#include "history/gpu_process_csv.h"

#include "history/csv_text.h"
#include "platform/text16.h"

namespace tarvelon {

std::string gpuProcessCsv(const GpuProcessList* lists, int32_t count) {
    std::string text = "gpu,pci_bus,pci_slot,pid,process,load_pct,memory_mb\r\n";
    for (int32_t l = 0; l < count; ++l) {
        const GpuProcessList& list = lists[l];
        for (int32_t r = 0; r < list.count; ++r) {
            const GpuProcessRow& row = list.rows[r];
            text += std::to_string(list.gpu) + "," + std::to_string(list.pciBus) + "," +
                    std::to_string(list.pciSlot) + ",";
            if (!row.unnamed)
                text += std::to_string(row.pid) + "," + csvTextField(toUtf8(row.name));
            else
                text += ",";
            text += "," + std::to_string(row.loadPct) + "," + std::to_string(row.memoryBytes >> 20) + "\r\n";
        }
    }
    return text;
}

}  // namespace tarvelon
