#pragma once

// One table of typed values for a binary device: what its description makes
// of each. The description check, the encoder, the grid's editors and the
// production line's --set are all tried against it.

#include <string>
#include <vector>

struct TValueCase {
    const char *type;
    const char *attributes; // the item's other attributes
    const char *typed;
    // Accepted: the text a read of the device shows afterwards. Refused: nullptr.
    const char *readBack;
    // Refused: the message after "<caption>: ". Accepted: nullptr.
    const char *message;
    // Refused only by the description's min/max: the codec itself would keep the value.
    bool rangeOnly = false;
};

inline const std::vector<TValueCase> &ValueCases()
{
    static const std::vector<TValueCase> cases = {
        {"int", R"(size="1")", "255", "255", nullptr},
        {"int", R"(size="1")", "256", nullptr, "значение 256 не помещается в 8 бит."},
        {"int", R"(size="1")", "12a", nullptr, "'12a' is not a valid integer value"},
        // Texts above the largest signed value name bit patterns of full 32-bit fields only.
        {"int", R"(size="1")", "4294967295", nullptr, "'4294967295' is not a valid integer value"},
        {"int", R"(size="1")", "2147483648", nullptr, "'2147483648' is not a valid integer value"},
        {"int", R"(size="2")", "3000000000", nullptr, "'3000000000' is not a valid integer value"},
        {"int", R"(size="4")", "4294967295", "4294967295", nullptr},
        {"int", R"(size="2" min="1" max="9999")", "10000", nullptr, "значение 10000 вне диапазона 1…9999.", true},
        {"int", R"(size="2" min="1" max="9999")", "1", "1", nullptr},
        {"int", R"(size="2" min="1" max="9999")", "9999", "9999", nullptr},
        {"int", R"(size="1" min="-40" max="100")", "-300", nullptr, "значение -300 вне диапазона -40…100."},
        {"int", R"(size="2" min="1")", "-1", nullptr, "значение -1 меньше 1."},
        {"int", R"(size="1")", "-300", nullptr, "значение -300 не помещается в 8 бит."},
        // A negative value the description allows: the device keeps its low bits.
        {"int", R"(size="1" min="-40")", "-5", "251", nullptr},
        {"int", R"(size="1" div="10")", "15", nullptr, "значение 15 будет записано как 10."},
        {"int", R"(size="1" div="10")", "20", "20", nullptr},
        {"int", R"(size="2" mul="10")", "10000", nullptr, "значение 10000 (в устройстве 100000) не помещается в 16 бит."},
        {"string", R"(size="4")", "Дом", "Дом ", nullptr},
        {"string", R"(size="4")", "abcde", nullptr, "текст длиннее 4 знаков."},
        {"string", R"(size="4")", "Ёж", nullptr, "символ «Ё» устройство не хранит."},
        {"string", R"(size="8")", "Пост №7", nullptr, "символ «№» устройство не хранит."},
        {"string", R"(size="4")", "日本", nullptr, "символ «日» устройство не хранит."},
        {"phone", R"(size="8")", "+79991234567", "+79991234567", nullptr},
        {"phone", R"(size="8")", "+234567890123456", "+234567890123456", nullptr},
        {"phone", R"(size="8")", "12345678901234567", nullptr, "в номере больше 16 знаков."},
        {"phone", R"(size="8")", "12-34", nullptr, "номер может содержать только цифры и «+»."},
        {"ip_string", R"(size="4")", "10.0.0.1", "010.000.000.001", nullptr},
        {"ip_string", R"(size="4")", "10.0.0.300", nullptr, "часть адреса «300» должна быть числом от 0 до 255."},
        {"ip_string", R"(size="4")", "1.2.3.4.5", nullptr, "в адресе больше 4 частей."},
        {"hex", R"(size="2")", "1F", "001F", nullptr},
        {"hex", R"(size="2")", "XYZ", nullptr, "допустимы только шестнадцатеричные цифры 0–9 и A–F."},
        {"hex", R"(size="2")", "12345", nullptr, "больше 4 цифр."},
        {"hex_array", R"(size="2")", "A1B2", "A1B2", nullptr},
        {"hex_array", R"(size="2")", "A1B", nullptr, "нужно чётное число цифр: по две на байт."},
        {"dec_array", R"(size="3")", "123", "123", nullptr},
        {"dec_array", R"(size="3")", "1234", nullptr, "больше 3 цифр."},
        {"pswd_string", R"(size="2")", "12345", nullptr, "больше 4 цифр."},
    };
    return cases;
}

// The caption of case i's item; its name is "p<i>".
inline std::string ValueCaseCaption(std::size_t i)
{
    return "Параметр " + std::to_string(i);
}

// A binary device (hw 20, sw 1) whose one block "B" holds an item for every case.
inline std::string ValueCasesDevice()
{
    std::string items;
    for (std::size_t i = 0; i < ValueCases().size(); ++i)
        items += "<item name=\"p" + std::to_string(i) + "\" caption=\"" + ValueCaseCaption(i) + "\" type=\"" +
                 ValueCases()[i].type + "\" " + ValueCases()[i].attributes + "/>";
    return "<devices><device hw=\"20\" sw_low=\"1\"><block caption=\"B\">" + items + "</block></device></devices>";
}
